#pragma once
// Raising the package's exceptions (defined in kinetra/_errors.py) from C++:
// one class per failed status, each carrying the status, the node and the
// operation, with a message that says what failed.

#include <kinetra/types.h>

#include <pybind11/pybind11.h>

#include <string_view>

namespace kinetra::python {

namespace py = pybind11;

/// Raises the exception of the failed `status` (ReplyTimeout for RET_TIMEOUT,
/// ...), e.g. "driver 1: get_bus_voltage: no reply within 200 ms (RET_TIMEOUT)".
/// `device` names the node's class in the message; `detail`, when given,
/// replaces the status's usual explanation. Needs the GIL.
[[noreturn]] void raiseStatus(ret_status_t status, unsigned node, std::string_view operation,
                              std::string_view device = "node", std::string_view detail = {});

/// Raises `kinetra.<class_name>` (a KinetraError subclass) with `message`,
/// `status` and no node, for `operation` (empty: None).
[[noreturn]] void raiseError(const char* class_name, std::string_view message, std::string_view operation = {},
                             py::object status = py::none());

/// The class `kinetra.<name>` from the package's exceptions, e.g. "FlashError".
py::handle errorClass(const char* name);

/// Makes the exception classes and the Status enum's members reachable from
/// the compiled module; called once at import.
void bindErrors(py::module_& m);

}  // namespace kinetra::python
