#pragma once
// Stand-ins for the bus and error helpers of the package's core, until they land.

#include <kinetra/interface.h>
#include <kinetra/types.h>

#include <pybind11/pybind11.h>

#include <string_view>

namespace kinetra::python {

namespace py = pybind11;

/// The interface of a bus object; TypeError for anything else.
Interface& interfaceOf(py::handle bus);
/// Raises the exception of `status` for `operation` on `node`.
[[noreturn]] void raiseStatus(ret_status_t status, unsigned node, std::string_view operation);

}  // namespace kinetra::python
