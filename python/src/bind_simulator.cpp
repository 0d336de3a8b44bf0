// kinetra.Simulator: simulated buses of nodes behind virtual adapters on
// pseudo-terminals, started on construction, with a port per bus that a
// kinetra.Bus opens.

#include "kinetra_sim/console.h"
#include "kinetra_sim/simulator.h"

#include <pybind11/stl.h>

#include <string>
#include <vector>

#include "bindings.h"
#include "bus.h"
#include "can/bus.h"
#include "errors.h"

namespace kinetra::python {
namespace {

using namespace kinetra::sim;

/// The nodes of a simulator made without a list: one of each class.
constexpr std::pair<uint32_t, NodeKind> kDefaultNodes[] = {
    {1, NodeKind::Driver}, {2, NodeKind::Actuator}, {3, NodeKind::Imu}, {4, NodeKind::Encoder}};

/// The adapter names, as kinetra.Bus takes them.
constexpr const char* kZarvo = "zarvo";
constexpr const char* kSlcan = "slcan";

NodeKind kindOf(protocol::DeviceType type) {
    switch (type) {
        case protocol::DeviceType::Driver: return NodeKind::Driver;
        case protocol::DeviceType::Actuator: return NodeKind::Actuator;
        case protocol::DeviceType::Imu: return NodeKind::Imu;
        case protocol::DeviceType::Encoder: break;
    }
    return NodeKind::Encoder;
}

std::vector<NodeSetup> nodeSetups(const py::object& nodes, CANBaudRate rate) {
    std::vector<NodeSetup> setups;
    auto add = [&](uint32_t id, NodeKind kind) {
        NodeSetup setup;
        setup.kind = kind;
        setup.node_id = id;
        setup.bit_rate = rate;
        setups.push_back(setup);
    };
    if (nodes.is_none()) {
        for (const auto& [id, kind] : kDefaultNodes) add(id, kind);
        return setups;
    }
    if (!py::isinstance<py::dict>(nodes)) throw py::type_error("nodes must be a dict {node: kinetra.DeviceType} or None");
    for (const auto& [id, type] : nodes.cast<py::dict>()) {
        if (!py::isinstance<protocol::DeviceType>(type)) throw py::type_error("nodes maps a node id to a kinetra.DeviceType");
        add(id.cast<uint32_t>(), kindOf(type.cast<protocol::DeviceType>()));
    }
    return setups;
}

std::unique_ptr<Simulator> makeSimulator(const py::object& nodes, const std::string& adapter, long bitrate,
                                         bool timing, std::size_t buses, std::size_t hosts, uint32_t seed,
                                         const std::string& link_path) {
    if (adapter != kZarvo && adapter != kSlcan) {
        raiseError("InvalidArgument", "adapter must be \"zarvo\" or \"slcan\", not \"" + adapter + "\"", "simulator");
    }
    if (buses < 1 || buses > Simulator::kMaxBuses) {
        raiseError("InvalidArgument", "buses must be 1 to " + std::to_string(Simulator::kMaxBuses), "simulator");
    }
    if (hosts < 1 || hosts > SimulatorOptions::kMaxHosts) {
        raiseError("InvalidArgument", "hosts must be 1 to " + std::to_string(SimulatorOptions::kMaxHosts), "simulator");
    }
    const CANBaudRate rate = baudRateOf(bitrate);
    BusSetup bus;
    bus.nodes = nodeSetups(nodes, rate);
    bus.adapter.generic = adapter == kSlcan;
    bus.adapter.bit_rate = rate;
    bus.timing.enabled = timing;
    SimulatorOptions options;
    options.seed = seed;
    options.link_path = link_path;
    options.hosts = hosts;
    auto simulator = std::make_unique<Simulator>(std::vector<BusSetup>(buses, bus), options);
    {
        py::gil_scoped_release release;
        simulator->start();
    }
    // The Zarvo is recognised by its description in the port list.
    if (adapter == kZarvo) simulator->registerAsAdapter();
    return simulator;
}

}  // namespace

void bindSimulatorClass(py::module_& m, py::module_& sim) {
    py::options options;
    options.disable_function_signatures();
    py::class_<Simulator> cls(
        m, "Simulator",
        "Simulated CAN buses of Kinetra nodes, each behind a virtual adapter on a pseudo-terminal whose path "
        "(`port`, `ports`) a kinetra.Bus opens. Runs from construction until close(); a context manager.");
    cls.def(py::init(&makeSimulator), py::arg("nodes") = py::none(), py::kw_only(), py::arg("adapter") = kZarvo,
            py::arg("bitrate") = 500'000, py::arg("timing") = false, py::arg("buses") = 1, py::arg("hosts") = 1,
            py::arg("seed") = 1, py::arg("link_path") = "",
            "__init__(self, nodes: dict[int, DeviceType] | None = None, *, adapter: str = 'zarvo', "
            "bitrate: int = 500000, timing: bool = False, buses: int = 1, hosts: int = 1, seed: int = 1, "
            "link_path: str = '') -> None\n\n"
            "Starts `buses` simulated buses, each with the `nodes` (default: driver 1, actuator 2, IMU 3, "
            "encoder 4) at `bitrate` bits per second, behind a Zarvo or a generic SLCAN adapter (\"slcan\"). "
            "`timing` turns on the bus and adapter timing model; `hosts` ports per bus share it; `seed` seeds "
            "the garbage send_garbage() sends; `link_path` names the port by a symbolic link that survives replug().");
    cls.def(
        "close", [](Simulator& self) { self.stop(); }, py::call_guard<py::gil_scoped_release>(),
        "close(self) -> None\n\nStops every bus for good. Idempotent.");
    cls.def("__enter__", [](py::object self) { return self; }, "__enter__(self) -> Simulator");
    cls.def(
        "__exit__", [](Simulator& self, const py::args&) { self.stop(); }, py::call_guard<py::gil_scoped_release>(),
        "__exit__(self, *args: object) -> None\n\nStops the simulator.");
    cls.def_property_readonly("running", &Simulator::running, "running(self) -> bool\n\nWhether it runs (from construction until close()).");
    cls.def_property_readonly("port", &Simulator::portName, "port(self) -> str\n\nThe port of bus 0's (first) host.");
    cls.def_property_readonly(
        "ports",
        [](const Simulator& self) {
            std::vector<std::string> ports;
            for (std::size_t b = 0; b < self.buses(); ++b) ports.push_back(self.portOf(b));
            return ports;
        },
        "ports(self) -> List[str]\n\nThe port of each bus's (first) host, bus 0 first.");
    cls.def(
        "host_port", [](Simulator& self, std::size_t index) { return self.host(index).portName(); }, py::arg("index"),
        "host_port(self, index: int) -> str\n\nThe port of bus 0's host `index` (from 0); IndexError when there is none.");
    cls.def(
        "node",
        [](Simulator& self, uint32_t node_id, std::size_t bus) -> Node& { return self.onBus(bus).node(node_id); },
        py::arg("node_id"), py::arg("bus") = 0, py::return_value_policy::reference_internal,
        "node(self, node_id: int, bus: int = 0) -> sim.Node\n\nThe simulated node as its class (sim.DriverNode, "
        "sim.EncoderNode, ...) with its fault knobs; IndexError when there is none.");
    cls.def_property_readonly(
        "adapter", [](Simulator& self) -> AdapterProtocol& { return self.adapter(); },
        py::return_value_policy::reference_internal, "adapter(self) -> sim.Adapter\n\nBus 0's (first) virtual adapter.");
    cls.def("unplug", &Simulator::unplug, py::call_guard<py::gil_scoped_release>(),
            "unplug(self) -> None\n\nPulls the adapter out: the port fails, the bus reports the adapter lost.");
    cls.def("replug", &Simulator::replug, py::call_guard<py::gil_scoped_release>(),
            "replug(self) -> None\n\nPlugs the adapter back in.");
    cls.def_property_readonly("plugged", &Simulator::plugged, "plugged(self) -> bool\n\nWhether the adapter is plugged in.");
    cls.def_property_readonly("host_connected", &Simulator::hostConnected, "host_connected(self) -> bool\n\nWhether a host has the port open.");
    cls.def("send_garbage", &Simulator::sendGarbage, py::arg("lines"),
            "send_garbage(self, lines: int) -> None\n\nSends lines of rubbish to the host.");
    cls.def(
        "command", [](Simulator& self, const std::string& line) { return runConsoleCommand(self, line); },
        py::arg("line"),
        "command(self, line: str) -> str\n\nRuns one console command (\"heartbeats 2 off\", \"drop 1 0.5\", "
        "\"delay 1 250\", ...; see sim.console_help()) and returns its text; ValueError for anything else.");
    sim.attr("Simulator") = cls;
}

}  // namespace kinetra::python
