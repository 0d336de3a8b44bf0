#pragma once
// What the four device classes share in Python: construction on an interface
// (which the proxy keeps alive), presence, the node id and logging.

#include <kinetra/interface.h>

#include <pybind11/pybind11.h>

#include <iostream>

namespace kinetra::python {

namespace py = pybind11;

template <typename Proxy>
py::class_<Proxy> bindProxy(py::module_& m, const char* name, const char* doc) {
    py::class_<Proxy> cls(m, name, doc);
    cls.def(py::init<unsigned int, Interface*>(), py::arg("node_id"), py::arg("interface"),
            // The proxy unregisters itself from the interface when it goes.
            py::keep_alive<1, 3>(), "Creates the proxy for node `node_id` on `interface`. Sends nothing.");
    cls.def("isConnected", &Proxy::isConnected, py::call_guard<py::gil_scoped_release>(),
            "Whether the node is present on the bus (sent a heartbeat within 1.001 s).");
    cls.def("getId", &Proxy::getId, "The node identifier the proxy addresses.");
    cls.def(
        "enableLogging",
        [](Proxy& self, bool enabled) { self.setOutputLogStream(enabled ? &std::clog : nullptr); },
        py::arg("enabled") = true, "Logs this proxy's traffic to standard error, or stops logging.");
    return cls;
}

}  // namespace kinetra::python
