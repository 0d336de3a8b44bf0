// The names of the codes a motor controller reports, for printing: the same
// tables the kinetra tool uses.

#include "bindings.h"

#include <kinetra/can_frame.h>
#include <kinetra/device_codes.h>

#include <pybind11/stl.h>

namespace kinetra::python {

void bindNames(py::module_& m) {
    m.attr("__version__") = getLibraryVersion();
    m.def("controllerStateName", &kinetra::controllerStateName, py::arg("state"),
          "The name of a controller state (getControllerState): 'idle', 'active', ...; 'state N' for another number.");
    m.def("controllerModeName", &kinetra::controllerModeName, py::arg("mode"),
          "The name of a control mode (getControllerMode): 'position', 'velocity', ...; 'mode N' for another number.");
    const char* const error_help = "A driver's error code by its enumeration name ('DRIVER_ERROR_7'); 'none' for 0.";
    m.def("driverErrorName", &kinetra::driverErrorName, py::arg("code"), error_help);
    m.def(
        "driverErrorName", [](int code) { return kinetra::driverErrorName(static_cast<driver_error_t>(code)); },
        py::arg("code"), error_help);
    m.def("faultBitNames", &kinetra::faultBitNames, py::arg("fault"),
          "The set bits of a fault word (getDriverFault), lowest first, as 'bit N'.");
}

}  // namespace kinetra::python
