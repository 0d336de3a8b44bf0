#pragma once
// The binding functions of the module's parts, one per class family.

#include <pybind11/pybind11.h>

namespace kinetra::python {

namespace py = pybind11;

void bindStatus(py::module_& m);
void bindInterfaces(py::module_& m);
void bindProcedures(py::module_& m);
void bindDriver(py::module_& m);
void bindActuator(py::module_& m);
void bindImu(py::module_& m);
void bindVorlex(py::module_& m);
void bindSimulator(py::module_& m);
/// Names of the codes a motor controller reports, and the version.
void bindNames(py::module_& m);
/// The library's message sink, forwarded to the logger "kinetra".
void bindMessages(py::module_& m);
/// ControlCycle and the enumerations of its reads and commands.
void bindCycle(py::module_& m);

}  // namespace kinetra::python
