// kinetra.Bus with its proxies, frame observers and adapter, and
// kinetra.DeviceType.

#include "bindings.h"
#include "bus.h"
#include "can/bus.h"
#include "errors.h"
#include "frame_stream.h"
#include "interruptible.h"
#include "operation.h"
#include "proxy_common.h"
#include "snake_case.h"

#include <pybind11/stl.h>

#include <iostream>
#include <string>

namespace kinetra::python {
namespace {

/// The frames a frame observer holds before it drops the newest.
constexpr std::size_t kDefaultFrameQueue = 1024;

/// The bus's adapter and its own operations (kinetra.Adapter).
struct AdapterView {
    Bus* bus;
};

/// Runs an adapter operation with the GIL released; raises BusNotRunning on a
/// closed bus and AdapterError when the adapter does not answer.
template <typename Call>
void adapterCall(AdapterView& view, const char* cxx_name, Call call) {
    const std::string name = snakeCase(cxx_name);
    if (view.bus->closed()) {
        raiseError("BusNotRunning", "adapter: " + name + ": the bus is closed (RET_NOT_RUNNING)", name,
                   py::cast(RET_NOT_RUNNING));
    }
    ret_interface_t result;
    {
        py::gil_scoped_release release;
        result = call(view.bus->adapter());
    }
    if (result != RET_INTERFACE_OK) raiseError("AdapterError", "adapter: " + name + ": the adapter did not answer", name);
}

py::object namedTuple(py::module_& m, const char* name, std::initializer_list<std::pair<const char*, py::object>> fields) {
    py::list members;
    for (const auto& [field, type] : fields) members.append(py::make_tuple(field, type));
    py::object cls = py::module_::import("typing").attr("NamedTuple")(name, members);
    cls.attr("__module__") = "kinetra";
    m.attr(name) = cls;
    return cls;
}

void bindAdapter(py::module_& m) {
    const py::object integer = pythonType<int>();
    static py::handle firmware = namedTuple(m, "AdapterFirmwareVersion",
                                            {{"major", integer}, {"minor", integer}, {"patch", integer},
                                             {"tag", pythonType<std::string>()}})
                                     .release();
    static py::handle hardware =
        namedTuple(m, "AdapterHardwareVersion", {{"major", integer}, {"minor", integer}, {"patch", integer}}).release();

    py::options options;
    options.disable_function_signatures();
    py::class_<AdapterView> cls(m, "Adapter", "The USB-to-CAN adapter of a bus (bus.adapter) and its own operations.");
    cls.def(
        "get_firmware_version",
        [](AdapterView& self) {
            uint8_t major = 0, minor = 0, patch = 0;
            std::string tag;
            adapterCall(self, "getFirmwareVersion", [&](USBInterface& a) { return a.getFirmwareVersion(&major, &minor, &patch, &tag); });
            return firmware(major, minor, patch, py::cast(DeviceText{tag}));
        },
        "get_firmware_version(self) -> AdapterFirmwareVersion\n\nThe adapter's firmware version and eight-character tag.");
    cls.def(
        "get_hardware_version",
        [](AdapterView& self) {
            uint8_t major = 0, minor = 0, patch = 0;
            adapterCall(self, "getHardwareVersion", [&](USBInterface& a) { return a.getHardwareVersion(&major, &minor, &patch); });
            return hardware(major, minor, patch);
        },
        "get_hardware_version(self) -> AdapterHardwareVersion\n\nThe adapter's hardware version.");
    cls.def(
        "get_can_baud_rate",
        [](AdapterView& self) {
            CANBaudRate rate = CAN_BAUD_500K;
            adapterCall(self, "getCANBaudRate", [&](USBInterface& a) { return a.getCANBaudRate(&rate); });
            return rate;
        },
        "get_can_baud_rate(self) -> CANBaudRate\n\nThe adapter's CAN bit rate.");
    cls.def(
        "set_can_baud_rate",
        [](AdapterView& self, CANBaudRate rate) {
            adapterCall(self, "setCANBaudRate", [&](USBInterface& a) { return a.setCANBaudRate(rate); });
        },
        py::arg("rate"), "set_can_baud_rate(self, rate: CANBaudRate) -> None\n\nSets the adapter's CAN bit rate.");
    const std::pair<const char*, ret_interface_t (USBInterface::*)()> commands[] = {
        {"saveConfiguration", &USBInterface::saveConfiguration},
        {"eraseConfiguration", &USBInterface::eraseConfiguration},
        {"rebootZarvo", &USBInterface::rebootZarvo},
        {"enterDFUMode", &USBInterface::enterDFUMode},
    };
    const char* const docs[] = {"Makes the adapter store its configuration.", "Makes the adapter erase its stored configuration.",
                                "Reboots the adapter.", "Sends the adapter into its own firmware-update mode."};
    for (std::size_t i = 0; i < std::size(commands); ++i) {
        const auto [cxx_name, method] = commands[i];
        const std::string name = snakeCase(cxx_name);
        const std::string doc = name + "(self) -> None\n\n" + docs[i];
        cls.def(
            name.c_str(),
            [cxx_name = cxx_name, method = method](AdapterView& self) {
                adapterCall(self, cxx_name, [&](USBInterface& a) { return (a.*method)(); });
            },
            doc.c_str());
    }
}

template <typename Proxy>
void defineProxyGetter(py::class_<Bus>& bus, const char* name, const char* cls_name) {
    const std::string doc = std::string(name) + "(self, node: int) -> " + cls_name + "\n\nThe " + cls_name +
                            " proxy of `node` on this bus; the same object for the same node. Sends nothing.";
    bus.def(
        name, [](Bus& self, unsigned node) -> Proxy& { return self.proxy<Proxy>(node); }, py::arg("node"),
        py::return_value_policy::reference_internal, doc.c_str());
}

}  // namespace

void bindBus(py::module_& m) {
    py::enum_<protocol::DeviceType>(m, "DeviceType", "The device type a node reports in its heartbeats.")
        .value("Driver", protocol::DeviceType::Driver)
        .value("Actuator", protocol::DeviceType::Actuator)
        .value("IMU", protocol::DeviceType::Imu)
        .value("Encoder", protocol::DeviceType::Encoder);

    bindAdapter(m);

    py::class_<FrameStream>(m, "FrameStream",
                            "The frames a bus receives, from bus.frames(): an iterator (ending at its time-out or "
                            "when it or the bus closes) and a context manager. Frames that arrive while the queue is "
                            "full are dropped and counted.")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &FrameStream::next, "__next__(self) -> Frame")
        .def("get", &FrameStream::get, py::arg("timeout") = py::none(),
             "get(self, timeout: float | None = None) -> Frame | None\n\nThe next frame, waiting up to `timeout` "
             "seconds (None: until the stream or the bus closes); None when none came.")
        .def_property_readonly("dropped", &FrameStream::dropped, "How many frames were dropped because the queue was full.")
        .def("close", &FrameStream::close, "close(self) -> None\n\nStops observing the bus.")
        .def("__enter__", [](py::object self) { return self; }, "__enter__(self) -> FrameStream")
        .def(
            "__exit__", [](FrameStream& self, const py::args&) { self.close(); },
            "__exit__(self, *args: object) -> None");

    py::options options;
    options.disable_function_signatures();
    py::class_<Bus> bus(m, "Bus",
                        "One CAN bus opened through an SLCAN adapter. Opens on construction; a context manager that "
                        "closes it (joining every thread) on exit, also on an exception. Callbacks run on a thread "
                        "of the module's own, never on the library's receive thread; one that raises is logged with "
                        "its traceback to the logger \"kinetra\" (once per callback) and the bus goes on.");
    bus.def(py::init<const std::string&, const std::string&, long, py::object, py::object, py::object>(),
            py::arg("port"), py::kw_only(), py::arg("adapter") = "zarvo", py::arg("bitrate") = 500'000,
            py::arg("on_appeared") = py::none(), py::arg("on_lost") = py::none(),
            py::arg("on_adapter_lost") = py::none(),
            "__init__(self, port: str, *, adapter: str = 'zarvo', bitrate: int = 500000, "
            "on_appeared: Callable[[int, DeviceType | int], None] | None = None, "
            "on_lost: Callable[[int], None] | None = None, "
            "on_adapter_lost: Callable[[], None] | None = None) -> None\n\n"
            "Opens `port` through the adapter (\"zarvo\", or \"slcan\" for any SLCAN adapter) at `bitrate` bits "
            "per second. `on_appeared(node, device_type)` is called when a node's first heartbeat arrives, "
            "`on_lost(node)` when it has been silent for 1.001 s, `on_adapter_lost()` once when the adapter "
            "vanishes. Raises AdapterError when the port cannot be opened, InvalidArgument for an unknown "
            "adapter or bit rate.");
    bus.def("close", &Bus::close,
            "close(self) -> None\n\nStops the bus threads, closes the port, ends the callbacks and frame "
            "streams. Idempotent. Proxies of a closed bus raise BusNotRunning.");
    bus.def_property_readonly("closed", &Bus::closed, "closed(self) -> bool\n\nWhether close() was called.");
    bus.def_property_readonly("port", &Bus::port, "port(self) -> str\n\nThe port the bus was opened on.");
    bus.def_property_readonly(
        "running", [](Bus& self) { return !self.closed() && self.interface().isRunning(); },
        "running(self) -> bool\n\nWhether the bus is open and its last send succeeded.");
    bus.def_property_readonly(
        "adapter_lost", [](Bus& self) { return self.interface().isAdapterLost(); },
        "adapter_lost(self) -> bool\n\nWhether the adapter vanished since the bus opened.");
    bus.def_property_readonly(
        "adapter", [](Bus& self) { return AdapterView{&self}; }, py::keep_alive<0, 1>(),
        "adapter(self) -> Adapter\n\nThe bus's USB-to-CAN adapter (kinetra.Adapter).");
    bus.def("__enter__", [](py::object self) { return self; }, "__enter__(self) -> Bus");
    bus.def(
        "__exit__", [](Bus& self, const py::args&) { self.close(); },
        "__exit__(self, *args: object) -> None\n\nCloses the bus.");
    defineProxyGetter<Driver>(bus, "driver", "Driver");
    defineProxyGetter<Actuator>(bus, "actuator", "Actuator");
    defineProxyGetter<IMU>(bus, "imu", "IMU");
    defineProxyGetter<Vorlex>(bus, "encoder", "Vorlex");
    bus.def(
        "nodes",
        [](Bus& self) {
            py::dict nodes;
            if (self.closed()) return nodes;
            for (const auto& [node, type] : self.interface().getConnectedDevices()) nodes[py::int_(node)] = deviceTypeObject(type);
            return nodes;
        },
        "nodes(self) -> dict[int, DeviceType | int]\n\nThe nodes present (heard within the last 1.001 s) with "
        "their device types.");
    bus.def(
        "wait_for",
        [](Bus& self, unsigned node, py::object timeout) { return self.waitFor(node, deadlineAfter(timeout, "wait_for")); },
        py::arg("node"), py::arg("timeout") = 2.0,
        "wait_for(self, node: int, timeout: float | None = 2.0) -> bool\n\nWaits until `node` is present and "
        "the bus runs; False when `timeout` seconds passed first (None: no limit). Ctrl-C ends the wait.");
    bus.def(
        "frames",
        [](Bus& self, std::size_t maxsize, py::object timeout) {
            return std::make_unique<FrameStream>(self, maxsize, std::move(timeout));
        },
        py::arg("maxsize") = kDefaultFrameQueue, py::kw_only(), py::arg("timeout") = py::none(),
        py::keep_alive<0, 1>(),
        "frames(self, maxsize: int = 1024, *, timeout: float | None = None) -> FrameStream\n\nThe frames the bus "
        "receives from now on, as an iterator of kinetra.Frame that holds up to `maxsize` of them; each wait of "
        "the iteration lasts at most `timeout` seconds (None: until the stream or the bus closes).");
    bus.def(
        "on_frame", [](Bus& self, py::object callback, std::size_t maxsize) { self.onFrame(std::move(callback), maxsize); },
        py::arg("callback"), py::arg("maxsize") = kDefaultFrameQueue,
        "on_frame(self, callback: Callable[[Frame], None] | None, maxsize: int = 1024) -> None\n\nCalls "
        "`callback(frame)` for every frame the bus receives, on a thread of the module's own (frames beyond "
        "`maxsize` waiting are dropped); None stops it.");
    bus.def(
        "enable_logging", [](Bus& self, bool enabled) { self.interface().setOutputLogStream(enabled ? &std::clog : nullptr); },
        py::arg("enabled") = true,
        "enable_logging(self, enabled: bool = True) -> None\n\nLogs the bus's traffic to standard error, or stops.");
    bus.def("__repr__", [](Bus& self) {
        return "<kinetra.Bus " + self.port() + (self.closed() ? " closed>" : ">");
    });

    // Before the interpreter goes, the buses still open end their threads,
    // which would otherwise call into a finalised interpreter.
    py::module_::import("atexit").attr("register")(py::cpp_function(&shutdownAll));
}

}  // namespace kinetra::python
