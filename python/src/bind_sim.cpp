// The simulator as kinetra.sim: a simulated bus behind a virtual adapter on a
// pseudo-terminal, its nodes and their fault knobs, and firmware images for
// its bootloader.

#include "kinetra_sim/actuator_node.h"
#include "kinetra_sim/console.h"
#include "kinetra_sim/driver_node.h"
#include "kinetra_sim/encoder_node.h"
#include "kinetra_sim/hex_image.h"
#include "kinetra_sim/imu_node.h"
#include "kinetra_sim/simulator.h"

#include <pybind11/stl.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "bindings.h"

namespace kinetra::python {
namespace {

using namespace kinetra::sim;
using std::chrono::milliseconds;

template <typename T, typename... Base>
using NodeClass = py::class_<T, Base..., std::unique_ptr<T, py::nodelete>>;

std::vector<NodeSetup> nodeSetups(const py::iterable& nodes) {
    std::vector<NodeSetup> setups;
    for (py::handle item : nodes) {
        if (py::isinstance<NodeSetup>(item)) {
            setups.push_back(item.cast<NodeSetup>());
            continue;
        }
        auto pair = item.cast<std::pair<NodeKind, uint32_t>>();
        NodeSetup setup;
        setup.kind = pair.first;
        setup.node_id = pair.second;
        setups.push_back(setup);
    }
    return setups;
}

py::bytes toBytes(const std::vector<uint8_t>& bytes) {
    return py::bytes(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void bindNodes(py::module_& sim) {
    NodeClass<Node>(sim, "Node", "One simulated node: identity, heartbeats, replies and fault knobs.")
        .def("nodeId", &Node::nodeId)
        .def("kind", &Node::kind)
        .def("online", &Node::online, "False while the node reboots.")
        .def("bitRate", &Node::bitRate)
        .def("setBitRate", &Node::setBitRate, py::arg("rate"))
        .def("setHeartbeatsEnabled", &Node::setHeartbeatsEnabled, py::arg("enabled"),
             "Stops or resumes heartbeats; the host loses a silent node after about a second.")
        .def("heartbeatsEnabled", &Node::heartbeatsEnabled)
        .def(
            "setHeartbeatPeriod", [](Node& self, double ms) { self.setHeartbeatPeriod(milliseconds(static_cast<long>(ms))); },
            py::arg("ms"))
        .def(
            "setReplyFaults",
            [](Node& self, double drop_fraction, double delay_ms, std::optional<uint8_t> answer_as,
               std::optional<uint8_t> command) {
                if (!(drop_fraction >= 0.0 && drop_fraction <= 1.0)) throw py::value_error("drop_fraction is 0 to 1");
                if (!(delay_ms >= 0.0)) throw py::value_error("delay_ms must not be negative");
                ReplyFaults faults;
                faults.drop_fraction = drop_fraction;
                faults.delay = std::chrono::microseconds(static_cast<long long>(delay_ms * 1000.0));
                faults.answer_as = answer_as;
                if (command) {
                    self.setReplyFaults(*command, faults);
                } else {
                    self.setReplyFaults(faults);
                }
            },
            py::arg("drop_fraction") = 0.0, py::arg("delay_ms") = 0.0, py::arg("answer_as") = py::none(),
            py::arg("command") = py::none(),
            "Faults for the replies to every query, or to the query `command` only: a fraction dropped, a "
            "delay, a wrong command id.")
        .def("clearReplyFaults", &Node::clearReplyFaults, "Back to well-behaved replies.")
        .def(
            "reboot", [](Node& self, double silence_ms) { self.reboot(milliseconds(static_cast<long>(silence_ms))); },
            py::arg("silence_ms") = 300.0, "Silent for `silence_ms`, then back with its saved configuration.")
        .def("framesHeard", &Node::framesHeard)
        .def("repliesSent", &Node::repliesSent)
        .def("repliesDropped", &Node::repliesDropped)
        .def("heartbeatsSent", &Node::heartbeatsSent);

    NodeClass<MotorControllerNode, Node>(sim, "MotorControllerNode", "What simulated drivers and actuators share.")
        .def("inBootloader", &MotorControllerNode::inBootloader)
        .def("injectBootFault", &MotorControllerNode::injectBootFault, py::arg("step"), py::arg("fault"),
             "Arms a one-shot fault for the next run of a bootloader step.")
        .def(
            "setBootTiming",
            [](MotorControllerNode& self, double erase_time_scale, double new_speed_ack_delay_ms, double reboot_silence_ms) {
                BootTiming timing;
                timing.erase_time_scale = erase_time_scale;
                timing.new_speed_ack_delay = std::chrono::microseconds(static_cast<long long>(new_speed_ack_delay_ms * 1000));
                timing.reboot_silence = milliseconds(static_cast<long>(reboot_silence_ms));
                self.setBootTiming(timing);
            },
            py::arg("erase_time_scale") = 1.0, py::arg("new_speed_ack_delay_ms") = 100.0,
            py::arg("reboot_silence_ms") = 300.0, "The bootloader's erase and restart times (0 erases at once).")
        .def(
            "readFlash",
            [](MotorControllerNode& self, uint32_t address, std::size_t count) {
                return toBytes(self.readFlash(address, count));
            },
            py::arg("address"), py::arg("count"), "The simulated flash at [address, address + count).")
        .def(
            "setErrorCode",
            [](MotorControllerNode& self, uint32_t code) { self.withFirmware([&](MotorFirmware& f) { f.setErrorCode(code); }); },
            py::arg("code"))
        .def(
            "setDriverFault",
            [](MotorControllerNode& self, uint32_t fault) {
                self.withFirmware([&](MotorFirmware& f) { f.setDriverFault(fault); });
            },
            py::arg("fault"));
    NodeClass<DriverNode, MotorControllerNode>(sim, "DriverNode", "A simulated motor driver.")
        .def("setBus", &DriverNode::setBus, py::arg("voltage"), py::arg("current"),
             "The supply: bus voltage and the current the electronics draw.");
    NodeClass<ActuatorNode, MotorControllerNode>(sim, "ActuatorNode", "A simulated actuator.");
    NodeClass<ImuNode, Node>(sim, "ImuNode", "A simulated inertial measurement unit.");
    NodeClass<EncoderNode, Node>(sim, "EncoderNode", "A simulated Vorlex encoder with an off-axis sensor chip.")
        .def("setShaftRate", &EncoderNode::setShaftRate, py::arg("degrees_per_second"),
             "Turns the shaft at this rate from now on.")
        .def(
            "setShaftAngle",
            [](EncoderNode& self, double degrees) {
                self.withModel([&](EncoderModel& model) {
                    model.setShaftRate(0.0);
                    model.setShaftAngle(degrees);
                });
            },
            py::arg("degrees"), "Stops the shaft at this angle, for a test that turns it itself.");
}

}  // namespace

void bindSimulator(py::module_& m) {
    py::module_ sim = m.def_submodule("sim", "The device simulator: a bus of simulated nodes behind a virtual adapter.");
    py::module_::import("sys").attr("modules")["kinetra.sim"] = sim;

    py::enum_<NodeKind>(sim, "NodeKind")
        .value("Driver", NodeKind::Driver)
        .value("Actuator", NodeKind::Actuator)
        .value("Imu", NodeKind::Imu)
        .value("Encoder", NodeKind::Encoder);
    py::enum_<BootStep>(sim, "BootStep")
        .value("Synchronise", BootStep::Synchronise)
        .value("ChangeSpeed", BootStep::ChangeSpeed)
        .value("Erase", BootStep::Erase)
        .value("Write", BootStep::Write)
        .value("Read", BootStep::Read)
        .value("Go", BootStep::Go);
    py::enum_<BootFault>(sim, "BootFault")
        .value("None_", BootFault::None)
        .value("Refuse", BootFault::Refuse)
        .value("RefuseFinal", BootFault::RefuseFinal)
        .value("Silent", BootFault::Silent)
        .value("DropAck", BootFault::DropAck)
        .value("CorruptByte", BootFault::CorruptByte)
        .value("RebootMidWrite", BootFault::RebootMidWrite);

    py::class_<NodeSetup>(sim, "NodeSetup", "One simulated node as it leaves the factory.")
        .def(py::init([](NodeKind kind, uint32_t node_id, CANBaudRate bit_rate, double heartbeat_period_ms) {
                 NodeSetup setup;
                 setup.kind = kind;
                 setup.node_id = node_id;
                 setup.bit_rate = bit_rate;
                 setup.heartbeat_period = milliseconds(static_cast<long>(heartbeat_period_ms));
                 return setup;
             }),
             py::arg("kind"), py::arg("node_id"), py::arg("bit_rate") = CAN_BAUD_500K,
             py::arg("heartbeat_period_ms") = 100.0)
        .def_readonly("kind", &NodeSetup::kind)
        .def_readonly("node_id", &NodeSetup::node_id)
        .def_readonly("bit_rate", &NodeSetup::bit_rate);

    bindNodes(sim);

    py::class_<AdapterProtocol, std::unique_ptr<AdapterProtocol, py::nodelete>>(sim, "Adapter",
                                                                                "The virtual adapter's state.")
        .def("channelOpen", &AdapterProtocol::channelOpen)
        .def("bitRate", &AdapterProtocol::bitRate)
        .def("savedBitRate", &AdapterProtocol::savedBitRate)
        .def("inDfuMode", &AdapterProtocol::inDfuMode)
        .def("framesFromHost", &AdapterProtocol::framesFromHost)
        .def("framesToHost", &AdapterProtocol::framesToHost);

    py::class_<Simulator>(sim, "Simulator",
                          "A simulated bus behind a virtual SLCAN adapter on a pseudo-terminal. `nodes` holds "
                          "NodeSetup objects or (NodeKind, node_id) pairs; `generic` makes the adapter a generic "
                          "SLCAN one (open it with SlcanInterface at 500 kbit/s); `timing` turns on the bus and "
                          "adapter timing model; `hosts` offers that many ports on the same bus, one adapter each.")
        .def(py::init([](const py::iterable& nodes, bool generic, uint32_t seed, const std::string& link_path,
                         bool timing, std::size_t hosts) {
                 SimulatorOptions options;
                 options.adapter.generic = generic;
                 options.seed = seed;
                 options.link_path = link_path;
                 options.timing.enabled = timing;
                 options.hosts = hosts;
                 return std::make_unique<Simulator>(nodeSetups(nodes), options);
             }),
             py::arg("nodes"), py::arg("generic") = false, py::arg("seed") = 1, py::arg("link_path") = "",
             py::arg("timing") = false, py::arg("hosts") = 1)
        .def("start", &Simulator::start, py::call_guard<py::gil_scoped_release>(), "Starts it: heartbeats begin at once.")
        .def("stop", &Simulator::stop, py::call_guard<py::gil_scoped_release>(), "Stops it for good.")
        .def("running", &Simulator::running)
        .def("portName", &Simulator::portName, "The port the (first) host opens.")
        .def("hosts", &Simulator::hosts, "How many hosts the bus serves.")
        .def(
            "hostPortName", [](Simulator& self, std::size_t index) { return self.host(index).portName(); },
            py::arg("index"), "The port host `index` (from 0) opens; IndexError when there is none.")
        .def("registerAsAdapter", &Simulator::registerAsAdapter,
             "Lists the port in this process's port list as the Kinetra adapter, so USBInterface accepts it.")
        .def("node", &Simulator::node, py::arg("node_id"), py::return_value_policy::reference_internal,
             "The node with this id, as its class (DriverNode, EncoderNode, ...); IndexError when none.")
        .def("adapter", &Simulator::adapter, py::return_value_policy::reference_internal)
        .def("unplug", &Simulator::unplug, py::call_guard<py::gil_scoped_release>(), "Pulls the adapter out.")
        .def("replug", &Simulator::replug, py::call_guard<py::gil_scoped_release>(), "Plugs the adapter back in.")
        .def("plugged", &Simulator::plugged)
        .def("hostConnected", &Simulator::hostConnected, "Whether a host has the port open.")
        .def("sendGarbage", &Simulator::sendGarbage, py::arg("lines"), "Sends lines of rubbish to the host.")
        .def(
            "command", [](Simulator& self, const std::string& line) { return runConsoleCommand(self, line); },
            py::arg("line"),
            "Runs one console command (\"heartbeats 2 off\", \"drop 1 0.5\", \"delay 1 250\", ...; see "
            "consoleHelp()) and returns its text; ValueError for anything else.")
        .def(
            "__enter__",
            [](py::object self) {
                self.cast<Simulator&>().start();
                return self;
            },
            "Starts the simulator for the block.")
        .def(
            "__exit__",
            [](Simulator& self, py::args) {
                py::gil_scoped_release release;
                self.stop();
            },
            "Stops the simulator.");

    sim.def("consoleHelp", &consoleHelp, "The console commands, one per line.");
    sim.def(
        "intelHexText",
        [](uint32_t address, const py::bytes& data, std::size_t record_size) {
            if (record_size < 1 || record_size > 255) throw py::value_error("record_size is 1 to 255");
            const std::string bytes = data;
            return intelHexText(address, std::vector<uint8_t>(bytes.begin(), bytes.end()), record_size);
        },
        py::arg("address"), py::arg("data"), py::arg("record_size") = 16,
        "Intel HEX text of `data` placed from `address`.");
    sim.def(
        "firmwareImage",
        [](std::size_t size, uint8_t major, uint8_t minor, uint16_t patch) {
            if (size < 0x208) throw py::value_error("a firmware image is at least 0x208 bytes");
            return toBytes(firmwareImage(size, ImageVersion{major, minor, patch}));
        },
        py::arg("size"), py::arg("major"), py::arg("minor"), py::arg("patch"),
        "A made-up firmware of `size` bytes for 0x08000000 announcing the version the simulated bootloader "
        "reports after it starts.");
}

}  // namespace kinetra::python
