#pragma once
// The binding functions of the module's parts, one per class family.

#include <pybind11/pybind11.h>

namespace kinetra::python {

namespace py = pybind11;

void bindStatus(py::module_& m);
/// The exceptions, defined in kinetra/_errors.py, reachable from the module.
void bindErrors(py::module_& m);
/// kinetra.Bus, its adapter and frame observers, kinetra.DeviceType.
void bindBus(py::module_& m);
void bindProcedures(py::module_& m);
void bindDriver(py::module_& m);
void bindActuator(py::module_& m);
void bindImu(py::module_& m);
void bindVorlex(py::module_& m);
/// kinetra.sim: simulated nodes, adapter state, firmware images; and kinetra.Simulator.
void bindSimulator(py::module_& m);
/// kinetra.Simulator, also as kinetra.sim.Simulator.
void bindSimulatorClass(py::module_& m, py::module_& sim);
/// Names of the codes a motor controller reports, and the version.
void bindNames(py::module_& m);
/// The library's message sink, forwarded to the logger "kinetra".
void bindMessages(py::module_& m);
/// ControlCycle and the enumerations of its reads and commands.
void bindCycle(py::module_& m);

}  // namespace kinetra::python
