// Result codes, bit rates and the other enumerations, and the opt-in way to
// turn a failed status into an exception: kinetra.check().

#include <kinetra/driver_error.h>
#include <kinetra/flash_options.h>
#include <kinetra/offaxis_calibration.h>
#include <kinetra/types.h>

#include <string>

#include <pybind11/eval.h>

#include "bindings.h"

namespace kinetra::python {
namespace {

// Raises kinetra.KinetraError for the failed `status`.
[[noreturn]] void raiseFailure(py::handle status, const std::string& what) {
    py::object type = py::module_::import("kinetra._core").attr("KinetraError");
    py::object error = type(status, what);
    PyErr_SetObject(type.ptr(), error.ptr());
    throw py::error_already_set();
}

bool failed(py::handle status) {
    if (py::isinstance<ret_status_t>(status)) return status.cast<ret_status_t>() != RET_OK;
    if (py::isinstance<ret_interface_t>(status)) return status.cast<ret_interface_t>() != RET_INTERFACE_OK;
    throw py::type_error("kinetra.check() takes a status or a tuple that starts with one");
}

}  // namespace

void bindStatus(py::module_& m) {
    py::enum_<ret_status_t>(m, "ret_status_t", "Result of every device operation.")
        .value("RET_OK", RET_OK)
        .value("RET_NOT_INITIALISED", RET_NOT_INITIALISED)
        .value("RET_TIMEOUT", RET_TIMEOUT)
        .value("RET_NOT_CONNECTED", RET_NOT_CONNECTED)
        .value("RET_NOT_RUNNING", RET_NOT_RUNNING)
        .value("RET_INVALID_ARGUMENT", RET_INVALID_ARGUMENT)
        .export_values();
    m.attr("Status") = m.attr("ret_status_t");

    py::enum_<ret_interface_t>(m, "ret_interface_t", "Result of an adapter operation.")
        .value("RET_INTERFACE_FAIL", RET_INTERFACE_FAIL)
        .value("RET_INTERFACE_OK", RET_INTERFACE_OK)
        .export_values();

    py::enum_<CANBaudRate>(m, "CANBaudRate", "CAN bus bit-rate selector; a rate a device reports outside it reads as -1.")
        .value("CAN_BAUD_10K", CAN_BAUD_10K)
        .value("CAN_BAUD_20K", CAN_BAUD_20K)
        .value("CAN_BAUD_50K", CAN_BAUD_50K)
        .value("CAN_BAUD_100K", CAN_BAUD_100K)
        .value("CAN_BAUD_125K", CAN_BAUD_125K)
        .value("CAN_BAUD_250K", CAN_BAUD_250K)
        .value("CAN_BAUD_500K", CAN_BAUD_500K)
        .value("CAN_BAUD_750K", CAN_BAUD_750K)
        .value("CAN_BAUD_1M", CAN_BAUD_1M)
        .export_values();

    py::enum_<driver_error_t> errors(m, "driver_error_t", "The error code a motor driver reports.");
    for (int code = DRIVER_ERROR_0; code <= DRIVER_ERROR_40; ++code) {
        const std::string name = "DRIVER_ERROR_" + std::to_string(code);
        errors.value(name.c_str(), static_cast<driver_error_t>(code));
    }
    errors.value("DRIVER_ERROR_UNRECOGNISED", DRIVER_ERROR_UNRECOGNISED);
    errors.export_values();

    py::enum_<FlashStage>(m, "FlashStage", "The stages of a firmware update, in order.")
        .value("Entering", FlashStage::Entering)
        .value("Erasing", FlashStage::Erasing)
        .value("Writing", FlashStage::Writing)
        .value("Verifying", FlashStage::Verifying)
        .value("Starting", FlashStage::Starting);

    py::enum_<OffAxisStage>(m, "OffAxisStage", "The stages of an off-axis calibration, in the order they begin.")
        .value("Reset", OffAxisStage::Reset)
        .value("Measurement1", OffAxisStage::Measurement1)
        .value("BiasCurrent", OffAxisStage::BiasCurrent)
        .value("Measurement2", OffAxisStage::Measurement2)
        .value("Compensation", OffAxisStage::Compensation)
        .value("Measurement3", OffAxisStage::Measurement3)
        .value("Store", OffAxisStage::Store)
        .value("Done", OffAxisStage::Done);

    py::exec(R"(
class KinetraError(RuntimeError):
    """A device or adapter operation failed; `status` is its ret_status_t or ret_interface_t."""

    def __init__(self, status, message=None):
        super().__init__(message or str(status))
        self.status = status
)",
             m.attr("__dict__"));

    m.def(
        "check",
        [](py::object result) -> py::object {
            if (py::isinstance<py::tuple>(result)) {
                auto values = result.cast<py::tuple>();
                if (values.size() == 0) throw py::type_error("kinetra.check() takes a status or a tuple that starts with one");
                if (failed(values[0])) raiseFailure(values[0], py::str(values[0]));
                if (values.size() == 2) return values[1];
                return values[py::slice(1, static_cast<py::ssize_t>(values.size()), 1)];
            }
            if (failed(result)) raiseFailure(result, py::str(result));
            return py::none();
        },
        py::arg("result"),
        "Raises KinetraError unless `result` (a status, or an operation's tuple of status and values) "
        "reports success; returns the values: None for a bare status, the value itself for one, a tuple for "
        "several. `v = kinetra.check(driver.getBusVoltage())`.");
}

}  // namespace kinetra::python
