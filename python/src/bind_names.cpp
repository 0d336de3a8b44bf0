// The names of the codes a motor controller reports, for printing: the same
// tables the kinetra tool uses.

#include "bindings.h"

#include <kinetra/can_frame.h>
#include <kinetra/device_codes.h>

#include <pybind11/stl.h>

namespace kinetra::python {

void bindNames(py::module_& m) {
    m.attr("__version__") = getLibraryVersion();
    m.def("controller_state_name", &kinetra::controllerStateName, py::arg("state"),
          "The name of a controller state (get_controller_state): 'idle', 'active', ...; 'state N' for another number.");
    m.def("controller_mode_name", &kinetra::controllerModeName, py::arg("mode"),
          "The name of a control mode (get_controller_mode): 'position', 'velocity', ...; 'mode N' for another number.");
    const char* const error_help = "A driver's error code by its enumeration name ('DRIVER_ERROR_7'); 'none' for 0.";
    m.def("driver_error_name", &kinetra::driverErrorName, py::arg("code"), error_help);
    m.def(
        "driver_error_name", [](int code) { return kinetra::driverErrorName(static_cast<driver_error_t>(code)); },
        py::arg("code"), error_help);
    m.def("fault_bit_names", &kinetra::faultBitNames, py::arg("fault"),
          "The set bits of a fault word (get_driver_fault), lowest first, as 'bit N'.");
}

}  // namespace kinetra::python
