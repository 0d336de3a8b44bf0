#pragma once
// What the four device classes share in Python: the node id, presence and
// logging. Proxies come from a Bus (bus.driver(node), ...), which owns them
// and which they keep alive; Python cannot construct one by itself.

#include <kinetra/actuator.h>
#include <kinetra/driver.h>
#include <kinetra/imu.h>
#include <kinetra/interface.h>
#include <kinetra/vorlex.h>

#include <pybind11/pybind11.h>

#include <iostream>

#include "table_operation.h"

namespace kinetra::python {

namespace py = pybind11;

template <>
struct DeviceName<Driver> {
    static constexpr const char* value = "driver";
};
template <>
struct DeviceName<Actuator> {
    static constexpr const char* value = "actuator";
};
template <>
struct DeviceName<IMU> {
    static constexpr const char* value = "imu";
};
template <>
struct DeviceName<Vorlex> {
    static constexpr const char* value = "encoder";
};

template <typename Proxy>
py::class_<Proxy> bindProxy(py::module_& m, const char* name, const char* doc) {
    py::class_<Proxy> cls(m, name, doc);
    cls.def_property_readonly("node", &Proxy::getId, "The node identifier the proxy addresses.");
    cls.def("is_connected", &Proxy::isConnected, py::call_guard<py::gil_scoped_release>(),
            "Whether the node is present on the bus (sent a heartbeat within 1.001 s).");
    cls.def(
        "enable_logging", [](Proxy& self, bool enabled) { self.setOutputLogStream(enabled ? &std::clog : nullptr); },
        py::arg("enabled") = true, "Logs this proxy's traffic to standard error, or stops logging.");
    cls.def("__repr__", [name](const Proxy& self) {
        return std::string("<kinetra.") + name + " node " + std::to_string(self.getId()) + ">";
    });
    return cls;
}

}  // namespace kinetra::python
