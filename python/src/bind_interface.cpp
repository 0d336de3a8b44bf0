// The interfaces: Interface with its callbacks, the Zarvo adapter's
// USBInterface and the generic SlcanInterface.

#include <kinetra/interface.h>
#include <kinetra/serial/serial.h>
#include <kinetra/usb_interface.h>

#include <pybind11/stl.h>

#include <iostream>
#include <string>
#include <utility>

#include "bindings.h"
#include "event_dispatcher.h"
#include "operation.h"

namespace kinetra::python {
namespace {

using Event = EventDispatcher::Event;
using Kind = EventDispatcher::Kind;

/// What every interface made from Python carries: the dispatcher its callbacks
/// queue their events on.
class Bridge : public PythonShutdown {
public:
    EventDispatcher events;
};

template <typename Transport>
class Bridged final : public Transport, public Bridge {
public:
    template <typename... Args>
    explicit Bridged(Args&&... args) : Transport(std::forward<Args>(args)...) {}
    ~Bridged() override { shutdown(); }

    void shutdown() override {
        // The library's threads never wait for the GIL, so closing may keep it;
        // the dispatcher's thread may, and stop() lets go of it while it waits.
        this->closeInterface();
        events.stop();
    }
};

Bridge& bridgeOf(Interface& iface) {
    if (auto* bridge = dynamic_cast<Bridge*>(&iface)) return *bridge;
    throw py::type_error("this interface was not made by the kinetra module");
}

bool initInterface(Interface& self, const std::string& port, py::object appeared, py::object lost) {
    Bridge& bridge = bridgeOf(self);
    std::function<void(unsigned int, unsigned char)> on_appeared;
    std::function<void(unsigned int)> on_lost;
    EventDispatcher* events = &bridge.events;
    // As in the library, a callback not given keeps the one given before.
    if (!appeared.is_none()) {
        bridge.events.appeared = std::move(appeared);
        on_appeared = [events](unsigned int node, unsigned char type) { events->post({Kind::Appeared, node, type}); };
    }
    if (!lost.is_none()) {
        bridge.events.lost = std::move(lost);
        on_lost = [events](unsigned int node) { events->post({Kind::Lost, node, 0}); };
    }
    py::gil_scoped_release release;
    return self.initInterface(port, std::move(on_appeared), std::move(on_lost)) != 0;
}

void setAdapterLostCallback(Interface& self, py::object callback) {
    Bridge& bridge = bridgeOf(self);
    EventDispatcher* events = &bridge.events;
    const bool none = callback.is_none();
    bridge.events.adapter_lost = std::move(callback);
    if (none) {
        self.setAdapterLostCallback({});
    } else {
        self.setAdapterLostCallback([events] { events->post({Kind::AdapterLost, 0, 0}); });
    }
}

}  // namespace

void bindInterfaces(py::module_& m) {
    py::register_exception<NoCompatibleDeviceException>(m, "NoCompatibleDeviceException", PyExc_RuntimeError);
    py::register_exception<serial::IOException>(m, "SerialIOException", PyExc_OSError);
    py::register_exception<serial::SerialException>(m, "SerialException", PyExc_OSError);
    py::register_exception<serial::PortNotOpenedException>(m, "PortNotOpenedException", PyExc_OSError);

    py::class_<Interface> iface(m, "Interface",
                                "One CAN bus. Its callbacks run on a thread of the module's own with the GIL "
                                "taken, in the order the library reported the events; an exception they raise "
                                "is reported as unraisable.");
    iface.def("initInterface", &initInterface, py::arg("port"), py::arg("appeared") = py::none(),
              py::arg("lost") = py::none(),
              "Opens the transport on `port` and starts the bus threads. `appeared(node, type)` is called when a "
              "node's first heartbeat arrives, `lost(node)` when it has been silent for 1.001 s; None keeps the "
              "callback given before. True when opened; False when already open. Raises "
              "NoCompatibleDeviceException or SerialIOException when the port cannot be used.");
    iface.def(
        "closeInterface", [](Interface& self) { return self.closeInterface() != 0; },
        py::call_guard<py::gil_scoped_release>(), "Stops the bus threads and closes the transport.");
    iface.def("isRunning", &Interface::isRunning, "Whether the most recent send succeeded.");
    iface.def("isOpen", &Interface::isOpen, "Whether the transport is open.");
    iface.def("isAdapterLost", &Interface::isAdapterLost, "Whether the adapter vanished since the interface opened.");
    iface.def("setAdapterLostCallback", &setAdapterLostCallback, py::arg("callback"),
              "`callback()` is called once when the adapter is lost, after the lost callback of every node; None "
              "clears it.");
    iface.def("isDevice", &Interface::isDevice, "Whether setAsDevice() was called.");
    iface.def("isDeviceConnected", &Interface::isDeviceConnected, py::arg("node"),
              "Whether `node` has sent a heartbeat within the last 1.001 s.");
    iface.def("getConnectedDevices", &Interface::getConnectedDevices,
              "The nodes present: a dict of node id to device type.");
    iface.def("setAsDevice", &Interface::setAsDevice, py::call_guard<py::gil_scoped_release>(),
              "Switches to device mode and waits up to about 500 ms for a heartbeat; returns the sender's node id, "
              "or 0xFFFFFFFF if none arrived.");
    iface.def(
        "enableLogging", [](Interface& self, bool enabled) { self.setOutputLogStream(enabled ? &std::clog : nullptr); },
        py::arg("enabled") = true, "Logs the interface's traffic to standard error, or stops logging.");
    iface.def(
        "__enter__", [](py::object self) { return self; }, "The interface, to be closed at the end of the block.");
    iface.def(
        "__exit__",
        [](Interface& self, py::args) {
            py::gil_scoped_release release;
            self.closeInterface();
        },
        "Closes the interface.");

    py::class_<USBInterface, Interface> usb(
        m, "USBInterface", "The interface for the Zarvo USB-to-CAN adapter: SLCAN over a serial port at 115200 baud.");
    usb.def(py::init([] { return new Bridged<USBInterface>(); }), "A closed interface; open it with initInterface().");
    usb.def(
        "getFirmwareVersion",
        [](USBInterface& self) {
            uint8_t major = 0, minor = 0, patch = 0;
            std::string tag;
            ret_interface_t result;
            {
                py::gil_scoped_release release;
                result = self.getFirmwareVersion(&major, &minor, &patch, &tag);
            }
            return std::make_tuple(result, major, minor, patch, DeviceText{tag});
        },
        "Asks the adapter for its firmware version and eight-character tag: (result, major, minor, patch, tag).");
    usb.def("setCANBaudRate", operation<&USBInterface::setCANBaudRate>(), py::arg("rate"),
            "Sets the adapter's CAN bit rate. No reply is awaited.");
    usb.def("getCANBaudRate", operation<&USBInterface::getCANBaudRate>(),
            "Asks the adapter for its CAN bit rate: (result, rate).");
    usb.def("getHardwareVersion", operation<&USBInterface::getHardwareVersion>(),
            "Asks the adapter for its hardware version: (result, major, minor, patch).");
    usb.def("enterDFUMode", operation<&USBInterface::enterDFUMode>(), "Sends the adapter into its own firmware-update mode.");
    usb.def("saveConfiguration", operation<&USBInterface::saveConfiguration>(), "Makes the adapter store its configuration.");
    usb.def("eraseConfiguration", operation<&USBInterface::eraseConfiguration>(),
            "Makes the adapter erase its stored configuration.");
    usb.def("rebootZarvo", operation<&USBInterface::rebootZarvo>(), "Reboots the adapter.");

    py::class_<SlcanInterface, USBInterface>(
        m, "SlcanInterface",
        "The interface for any SLCAN adapter, or a simulator in another process: no adapter check; the channel "
        "is set up at `bit_rate` at every open.")
        .def(py::init([](CANBaudRate rate) { return new Bridged<SlcanInterface>(rate); }),
             py::arg("bit_rate") = CAN_BAUD_500K, "A closed interface; open it with initInterface().");

    m.def("isKinetraAdapterDescription", &isKinetraAdapterDescription, py::arg("description"),
          "Whether a serial port's description names the Kinetra adapter.");

    // Before the interpreter goes, the interfaces still open end their threads,
    // which would otherwise call into a finalised interpreter.
    py::module_::import("atexit").attr("register")(py::cpp_function(&shutdownAll));
}

}  // namespace kinetra::python
