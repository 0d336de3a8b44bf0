// Status codes, bit rates and the other enumerations.

#include <kinetra/driver_error.h>
#include <kinetra/flash_options.h>
#include <kinetra/offaxis_calibration.h>
#include <kinetra/types.h>

#include <string>

#include "bindings.h"

namespace kinetra::python {

void bindStatus(py::module_& m) {
    py::enum_<ret_status_t>(m, "Status", "The library's status of a device operation; every KinetraError carries one.")
        .value("RET_OK", RET_OK)
        .value("RET_NOT_INITIALISED", RET_NOT_INITIALISED)
        .value("RET_TIMEOUT", RET_TIMEOUT)
        .value("RET_NOT_CONNECTED", RET_NOT_CONNECTED)
        .value("RET_NOT_RUNNING", RET_NOT_RUNNING)
        .value("RET_INVALID_ARGUMENT", RET_INVALID_ARGUMENT)
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
}

}  // namespace kinetra::python
