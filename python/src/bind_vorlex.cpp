// The Vorlex class: every operation returns its status, a read the status and
// its values as one tuple.

#include <kinetra/vorlex.h>

#include "bindings.h"
#include "operation.h"
#include "procedures.h"
#include "proxy_common.h"

namespace kinetra::python {

void bindVorlex(py::module_& m) {
    auto cls = bindProxy<Vorlex>(m, "Vorlex", "Proxy of one Vorlex magnetic rotary encoder node, with the conventions of Driver.");
    cls.def("getAbsoluteAngle", operation<&Vorlex::getAbsoluteAngle>(),
            "Reads the shaft angle within one turn.");
    cls.def("getMultiturnAngle", operation<&Vorlex::getMultiturnAngle>(),
            "Reads the shaft angle counted over several turns.");
    cls.def("getEncoderCount", operation<&Vorlex::getEncoderCount>(),
            "Reads the encoder count.");
    cls.def("getEncoderRawData", operation<&Vorlex::getEncoderRawData>(),
            "Reads the sensor's raw reading.");
    cls.def("getZeroPosition", operation<&Vorlex::getZeroPosition>(),
            "Reads the zero position the device applies.");
    cls.def("setCurrentPositionToZero", operation<&Vorlex::setCurrentPositionToZero>(),
            "Makes the current shaft position the zero position.");
    cls.def("getRawVelocity", operation<&Vorlex::getRawVelocity>(),
            "Reads the unscaled velocity.");
    cls.def("getScaledVelocity", operation<&Vorlex::getScaledVelocity>(),
            "Reads the velocity multiplied by the scaling factor.");
    cls.def("getFilteredVelocity", operation<&Vorlex::getFilteredVelocity>(),
            "Reads the velocity averaged over the filter window.");
    cls.def("getScaledFilteredVelocity", operation<&Vorlex::getScaledFilteredVelocity>(),
            "Reads the filtered velocity multiplied by the scaling factor.");
    cls.def("getRawAcceleration", operation<&Vorlex::getRawAcceleration>(),
            "Reads the unscaled acceleration.");
    cls.def("getScaledAcceleration", operation<&Vorlex::getScaledAcceleration>(),
            "Reads the acceleration multiplied by the scaling factor.");
    cls.def("getFilteredAcceleration", operation<&Vorlex::getFilteredAcceleration>(),
            "Reads the acceleration averaged over the filter window.");
    cls.def("getScaledFilteredAcceleration", operation<&Vorlex::getScaledFilteredAcceleration>(),
            "Reads the filtered acceleration multiplied by the scaling factor.");
    cls.def("configureEncoder", operation<&Vorlex::configureEncoder>(), py::arg("type"), py::arg("resolution"),
            "Sets the encoder type and its resolution parameter.");
    cls.def("getEncoderConfiguration", operation<&Vorlex::getEncoderConfiguration>(),
            "Reads the encoder type and its resolution parameter.");
    cls.def("setEncoderDirection", operation<&Vorlex::setEncoderDirection>(), py::arg("direction"),
            "Sets the counting direction.");
    cls.def("getEncoderDirection", operation<&Vorlex::getEncoderDirection>(),
            "Reads the counting direction.");
    cls.def("setScalingFactor", operation<&Vorlex::setScalingFactor>(), py::arg("factor"),
            "Sets the factor the scaled values are multiplied by.");
    cls.def("getScalingFactor", operation<&Vorlex::getScalingFactor>(),
            "Reads the scaling factor.");
    cls.def("setFilterWindowLength", operation<&Vorlex::setFilterWindowLength>(), py::arg("length"),
            "Sets the length of the filter window, in samples.");
    cls.def("getFilterWindowLength", operation<&Vorlex::getFilterWindowLength>(),
            "Reads the length of the filter window.");
    cls.def("setLinearCount", operation<&Vorlex::setLinearCount>(), py::arg("count"),
            "Sets the linear count of the encoder (no getter exists).");
    cls.def("setMAxxxSPIRegister", operation<&Vorlex::setMAxxxSPIRegister>(), py::arg("address"), py::arg("value"),
            "Writes one register of the sensor chip behind the encoder.");
    cls.def("getMAxxxSPIRegister", operation<&Vorlex::getMAxxxSPIRegister>(), py::arg("address"),
            "Reads one register of the sensor chip: its value and the device's flag.");
    cls.def("setCANBaudRate", operation<&Vorlex::setCANBaudRate>(), py::arg("rate"),
            "Sets the device's CAN bit rate; RET_INVALID_ARGUMENT for a value outside the table, and nothing is sent. The adapter keeps its own rate.");
    cls.def("getCANBaudRate", operation<&Vorlex::getCANBaudRate>(),
            "Reads the device's CAN bit rate. Writes -1 when the reported rate is not in the table, and also when the reply times out.");
    cls.def("getErrorCode", operation<&Vorlex::getErrorCode>(),
            "Reads the device's error code.");
    cls.def("clearEncoderErrors", operation<&Vorlex::clearEncoderErrors>(),
            "Clears the device's errors.");
    cls.def("saveConfigurations", operation<&Vorlex::saveConfigurations>(),
            "Makes the device store its current configuration permanently.");
    cls.def("eraseConfigurations", operation<&Vorlex::eraseConfigurations>(),
            "Makes the device erase its stored configuration.");
    cls.def("getNodeId", operation<&Vorlex::getNodeId>(),
            "Reads the node identifier the device reports.");
    cls.def("setNodeId", operation<&Vorlex::setNodeId>(), py::arg("id"),
            "Tells the device its new node identifier; this proxy keeps addressing the old one.");
    cls.def("rebootVorlex", operation<&Vorlex::rebootVorlex>(),
            "Reboots the device.");
    cls.def("enterDFUMode", operation<&Vorlex::enterDFUMode>(),
            "Makes the device enter its firmware-update mode.");
    cls.def("getHardwareVersion", operation<&Vorlex::getHardwareVersion>(),
            "Reads the four hardware version numbers.");
    cls.def("getFirmwareVersion", operation<&Vorlex::getFirmwareVersion>(),
            "Reads the firmware version.");
    cls.def("getFirmwareCommit", operation<&Vorlex::getFirmwareCommit>(),
            "Reads the firmware commit text (up to 8 characters).");
    cls.def(
        "runMAxxxOffAxisCalibration",
        [](Vorlex& self, float speed, py::object progress, py::object samples, ProcedureClock* clock,
           CancelFlag* cancel, double read_timeout) {
            return runCalibration(
                [&](const OffAxisCalibrationOptions& options) { return self.runMAxxxOffAxisCalibration(speed, options); },
                std::move(progress), std::move(samples), clock, cancel, read_timeout);
        },
        py::arg("speed"), py::arg("progress") = py::none(), py::arg("samples") = py::none(),
        py::arg("clock") = py::none(), py::arg("cancel") = py::none(), py::arg("read_timeout") = 2.0,
        "Calibrates the off-axis error of the encoder's chip while the shaft turns at `speed` degrees per "
        "second; returns an OffAxisCalibrationResult. Arguments as for Driver.runMAxxxOffAxisCalibration.");
}

}  // namespace kinetra::python
