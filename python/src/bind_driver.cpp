// The Driver class: every operation returns its status, a read the status and
// its values as one tuple.

#include <kinetra/driver.h>

#include "bindings.h"
#include "operation.h"
#include "procedures.h"
#include "proxy_common.h"

namespace kinetra::python {

void bindDriver(py::module_& m) {
    auto cls = bindProxy<Driver>(m, "Driver", "Proxy of one motor driver node. Commands return their status once the frame is sent; a read "
                                "returns a tuple of its status and values, which are meaningful only when the status is "
                                "RET_OK (kinetra.check() raises instead). Every call releases the GIL.");
    cls.def("setPositionControl", operation<&Driver::setPositionControl>(), py::arg("position"), py::arg("b"),
            "Position control to `position`; `b` travels as a 16-bit integer.");
    cls.def("setVelocityControl", operation<&Driver::setVelocityControl>(), py::arg("velocity"),
            "Velocity control; the same frame as setVelocityRampControl(velocity, 0).");
    cls.def("setVelocityRampControl", operation<&Driver::setVelocityRampControl>(), py::arg("velocity"), py::arg("ramp"),
            "Velocity control with a ramp.");
    cls.def("setTorqueControl", operation<&Driver::setTorqueControl>(), py::arg("torque"), py::arg("b"),
            "Torque control to `torque`; `b` travels as a float.");
    cls.def("setPositionControlWithFeedForward", operation<&Driver::setPositionControlWithFeedForward>(), py::arg("position"), py::arg("b"), py::arg("c"),
            "Position control with feed-forward terms: `b` as a 16-bit integer, `c` in hundredths.");
    cls.def("setVelocityControlWithFeedForward", operation<&Driver::setVelocityControlWithFeedForward>(), py::arg("velocity"), py::arg("b"),
            "Velocity control with a feed-forward term.");
    cls.def("setTrapezoidalTrajectoryControl", operation<&Driver::setTrapezoidalTrajectoryControl>(), py::arg("position"), py::arg("b"), py::arg("c"), py::arg("d"),
            "Trapezoidal trajectory to `position`: `b` as a 16-bit integer, `c` and `d` in tenths (8 bits).");
    cls.def("setScurveTrajectoryControl", operation<&Driver::setScurveTrajectoryControl>(), py::arg("position"), py::arg("b"), py::arg("c"), py::arg("d"),
            "S-curve trajectory to `position`, arguments as for the trapezoidal one.");
    cls.def("setTorqueRampControl", operation<&Driver::setTorqueRampControl>(), py::arg("torque"), py::arg("b"), py::arg("c"),
            "Torque ramp control: `b` in thousandths, `c` as a 16-bit integer.");
    cls.def("setSensorlessVelocityControl", operation<&Driver::setSensorlessVelocityControl>(), py::arg("velocity"), py::arg("b"), py::arg("c"),
            "Sensorless velocity control: `b` as a 16-bit integer, `c` in tenths.");
    cls.def("setOpenLoopPositionControl", operation<&Driver::setOpenLoopPositionControl>(), py::arg("a"), py::arg("b"), py::arg("c"), py::arg("d"),
            "Open-loop position control: `a`, `b`, `c` as given, `d` in tenths.");
    cls.def("setOpenLoopVelocityControl", operation<&Driver::setOpenLoopVelocityControl>(), py::arg("a"), py::arg("b"), py::arg("c"),
            "Open-loop velocity control: `a`, `b` as given, `c` in tenths.");
    cls.def("setDeviceToIdle", operation<&Driver::setDeviceToIdle>(),
            "Puts the device into idle.");
    cls.def("setDeviceToActive", operation<&Driver::setDeviceToActive>(),
            "Puts the device into its active (closed-loop) state.");
    cls.def("emergencyStop", operation<&Driver::emergencyStop>(),
            "Stops the motor at once (sent as a remote frame; no reply).");
    cls.def("clearDriverErrors", operation<&Driver::clearDriverErrors>(),
            "Clears the driver's errors.");
    cls.def("rebootDriver", operation<&Driver::rebootDriver>(),
            "Restarts the driver.");
    cls.def("runCalibrationSequence", operation<&Driver::runCalibrationSequence>(),
            "Runs the motor calibration sequence.");
    cls.def("runEncoderIndexSearch", operation<&Driver::runEncoderIndexSearch>(),
            "Runs the encoder index search.");
    cls.def("runEncoderMatching", operation<&Driver::runEncoderMatching>(),
            "Runs the encoder matching.");
    cls.def("runEncoderCalibration", operation<&Driver::runEncoderCalibration>(),
            "Runs the encoder calibration.");
    cls.def("setCurrentPositionToZero", operation<&Driver::setCurrentPositionToZero>(),
            "Makes the current position the zero position.");
    cls.def("setCurrentPositionAs", operation<&Driver::setCurrentPositionAs>(), py::arg("position"),
            "Makes the current position read as `position`.");
    cls.def("enterDFUMode", operation<&Driver::enterDFUMode>(),
            "Restarts the driver into its firmware-update bootloader.");
    cls.def("saveConfigurations", operation<&Driver::saveConfigurations>(),
            "Makes the device store its current configuration permanently.");
    cls.def("eraseConfigurations", operation<&Driver::eraseConfigurations>(),
            "Makes the device erase its stored configuration.");
    cls.def("getNodeId", operation<&Driver::getNodeId>(),
            "Reads the node identifier the device reports.");
    cls.def("setNodeId", operation<&Driver::setNodeId>(), py::arg("id"),
            "Tells the device its new node identifier; this proxy keeps addressing the old one.");
    cls.def("getHardwareVersion", operation<&Driver::getHardwareVersion>(),
            "Reads the four hardware version numbers.");
    cls.def("getFirmwareVersion", operation<&Driver::getFirmwareVersion>(),
            "Reads the firmware version.");
    cls.def("getFirmwareCommit", operation<&Driver::getFirmwareCommit>(),
            "Reads the firmware commit: exactly seven characters as the device sends them.");
    cls.def("getBusVoltage", operation<&Driver::getBusVoltage>(),
            "Reads the DC bus voltage.");
    cls.def("getBusCurrent", operation<&Driver::getBusCurrent>(),
            "Reads the DC bus current.");
    cls.def("getBrakeCurrent", operation<&Driver::getBrakeCurrent>(),
            "Reads the brake resistor current.");
    cls.def("getMotorTemperature", operation<&Driver::getMotorTemperature>(),
            "Reads the motor temperature.");
    cls.def("getDriverTemperature", operation<&Driver::getDriverTemperature>(),
            "Reads the driver temperature.");
    cls.def("getMotorPhaseCurrents", operation<&Driver::getMotorPhaseCurrents>(),
            "Reads the phase currents; `a` is computed as -(b + c).");
    cls.def("getDCCalibPhaseCurrents", operation<&Driver::getDCCalibPhaseCurrents>(),
            "Reads the phase currents measured during DC calibration; `a` is computed as -(b + c).");
    cls.def("getIdqCurrents", operation<&Driver::getIdqCurrents>(),
            "Reads the d- and q-axis currents.");
    cls.def("getMotorPosition", operation<&Driver::getMotorPosition>(),
            "Reads the motor-side position.");
    cls.def("getMotorVelocity", operation<&Driver::getMotorVelocity>(),
            "Reads the motor-side velocity.");
    cls.def("getMotorAcceleration", operation<&Driver::getMotorAcceleration>(),
            "Reads the motor-side acceleration.");
    cls.def("getMotorTorque", operation<&Driver::getMotorTorque>(),
            "Reads the motor-side torque.");
    cls.def("getOutputPosition", operation<&Driver::getOutputPosition>(),
            "Reads the output-side position.");
    cls.def("getOutputVelocity", operation<&Driver::getOutputVelocity>(),
            "Reads the output-side velocity.");
    cls.def("getOutputAcceleration", operation<&Driver::getOutputAcceleration>(),
            "Reads the output-side acceleration.");
    cls.def("getOutputTorque", operation<&Driver::getOutputTorque>(),
            "Reads the output-side torque.");
    cls.def("getMotorEncoderRawData", operation<&Driver::getMotorEncoderRawData>(),
            "Reads the motor encoder's raw count.");
    cls.def("getOutputEncoderRawData", operation<&Driver::getOutputEncoderRawData>(),
            "Reads the output encoder's raw count.");
    cls.def("getControllerState", operation<&Driver::getControllerState>(),
            "Reads the controller state.");
    cls.def("getControllerMode", operation<&Driver::getControllerMode>(),
            "Reads the controller mode.");
    cls.def("getMotorState", operation<&Driver::getMotorState>(),
            "Reads the two motor state flags.");
    cls.def("getTrajectoryDoneStatus", operation<&Driver::getTrajectoryDoneStatus>(),
            "Reads whether the last trajectory has finished.");
    cls.def("getCANCommunicationStatus", operation<&Driver::getCANCommunicationStatus>(),
            "Reads the two CAN communication status flags.");
    cls.def("getDriverFault", operation<&Driver::getDriverFault>(),
            "Reads the driver fault word.");
    cls.def("getErrorCode", operation<&Driver::getErrorCode>(),
            "Reads the error code; codes outside 0-40 and 255 read as DRIVER_ERROR_UNRECOGNISED.");
    cls.def("getDebugErrorCode", operation<&Driver::getDebugErrorCode>(),
            "Reads the six debug error words, one exchange each; stops at the first that fails, leaving the later words untouched.");
    cls.def("setDCBusTripLevels", operation<&Driver::setDCBusTripLevels>(), py::arg("undervoltage"), py::arg("overvoltage"),
            "Sets the DC bus under- and overvoltage trip levels.");
    cls.def("getDCBusTripLevels", operation<&Driver::getDCBusTripLevels>(),
            "Reads the DC bus under- and overvoltage trip levels.");
    cls.def("enableBrakeResistor", operation<&Driver::enableBrakeResistor>(), py::arg("resistance"),
            "Enables the brake resistor with the given resistance.");
    cls.def("disableBrakeResistor", operation<&Driver::disableBrakeResistor>(),
            "Disables the brake resistor.");
    cls.def("getBrakeResistorState", operation<&Driver::getBrakeResistorState>(),
            "Reads the brake resistor: whether enabled, its resistance and two status flags.");
    cls.def("setRegenCurrentTripLevel", operation<&Driver::setRegenCurrentTripLevel>(), py::arg("level"),
            "Sets the regeneration current trip level.");
    cls.def("getRegenCurrentTripLevel", operation<&Driver::getRegenCurrentTripLevel>(),
            "Reads the regeneration current trip level.");
    cls.def("setMotorParameters", operation<&Driver::setMotorParameters>(), py::arg("pole_pairs"), py::arg("kv_rating"), py::arg("current_limit"),
            "Sets pole pairs, kv rating and current limit of the motor.");
    cls.def("getMotorParameters", operation<&Driver::getMotorParameters>(),
            "Reads pole pairs, kv rating and current limit of the motor.");
    cls.def("setMotorCalibrationParameters", operation<&Driver::setMotorCalibrationParameters>(), py::arg("voltage"), py::arg("current"),
            "Sets the voltage and current of the motor calibration.");
    cls.def("getMotorCalibrationParameters", operation<&Driver::getMotorCalibrationParameters>(),
            "Reads the voltage and current of the motor calibration.");
    cls.def("setGearBoxParameters", operation<&Driver::setGearBoxParameters>(), py::arg("ratio"),
            "Sets the gear ratio between motor and output.");
    cls.def("getGearBoxParameters", operation<&Driver::getGearBoxParameters>(),
            "Reads the gear ratio between motor and output.");
    cls.def("setPositionControllerGain", operation<&Driver::setPositionControllerGain>(), py::arg("gain"),
            "Sets the position controller gain.");
    cls.def("getPositionControllerGain", operation<&Driver::getPositionControllerGain>(),
            "Reads the position controller gain.");
    cls.def("setVelocityControllerGains", operation<&Driver::setVelocityControllerGains>(), py::arg("gain"), py::arg("integrator_gain"),
            "Sets the velocity controller gain and integrator gain.");
    cls.def("getVelocityControllerGains", operation<&Driver::getVelocityControllerGains>(),
            "Reads the velocity controller gain and integrator gain.");
    cls.def("setCurrentControllerBandwidth", operation<&Driver::setCurrentControllerBandwidth>(), py::arg("bandwidth"),
            "Sets the current controller bandwidth.");
    cls.def("getCurrentControllerBandwidth", operation<&Driver::getCurrentControllerBandwidth>(),
            "Reads the current controller bandwidth.");
    cls.def("getCurrentControllerGains", operation<&Driver::getCurrentControllerGains>(),
            "Reads the current controller gain and integrator gain.");
    cls.def("setMotorEncoderBandwidth", operation<&Driver::setMotorEncoderBandwidth>(), py::arg("bandwidth"),
            "Sets the motor encoder bandwidth.");
    cls.def("getMotorEncoderBandwidth", operation<&Driver::getMotorEncoderBandwidth>(),
            "Reads the motor encoder bandwidth.");
    cls.def("getZeroPosition", operation<&Driver::getZeroPosition>(),
            "Reads the zero position.");
    cls.def("setMotorThermistorParameters", operation<&Driver::setMotorThermistorParameters>(), py::arg("r_ref"), py::arg("beta"),
            "Sets the thermistor's reference resistance and beta value.");
    cls.def("enableMotorThermalLimit", operation<&Driver::enableMotorThermalLimit>(), py::arg("upper_limit"),
            "Enables the motor thermal limit with the given upper temperature.");
    cls.def("disableMotorThermalLimit", operation<&Driver::disableMotorThermalLimit>(),
            "Disables the motor thermal limit.");
    cls.def("getMotorThermistorConfiguration", operation<&Driver::getMotorThermistorConfiguration>(),
            "Reads the thermistor configuration; `lower_limit` is computed as upper_limit - 10 (8-bit).");
    cls.def("setCurrentFilter", operation<&Driver::setCurrentFilter>(), py::arg("filter"),
            "Sets the current filter.");
    cls.def("getCurrentFilter", operation<&Driver::getCurrentFilter>(),
            "Reads the current filter.");
    cls.def("setEncoderDataFilter", operation<&Driver::setEncoderDataFilter>(), py::arg("filter"),
            "Sets the encoder data filter.");
    cls.def("getEncoderDataFilter", operation<&Driver::getEncoderDataFilter>(),
            "Reads the encoder data filter.");
    cls.def("setStartupConfigs", operation<&Driver::setStartupConfigs>(), py::arg("index_search"), py::arg("encoder_matching"), py::arg("closed_loop"),
            "Sets what the driver does at start-up.");
    cls.def("getStartupConfigs", operation<&Driver::getStartupConfigs>(),
            "Reads what the driver does at start-up.");
    cls.def("setMotorPhaseParameters", operation<&Driver::setMotorPhaseParameters>(), py::arg("resistance"), py::arg("inductance"),
            "Sets the motor's phase resistance and inductance.");
    cls.def("getMotorPhaseParameters", operation<&Driver::getMotorPhaseParameters>(),
            "Reads the motor's phase resistance and inductance.");
    cls.def("setMotorTorqueLimit", operation<&Driver::setMotorTorqueLimit>(), py::arg("limit"),
            "Sets the motor torque limit.");
    cls.def("getMotorTorqueLimit", operation<&Driver::getMotorTorqueLimit>(),
            "Reads the motor torque limit.");
    cls.def("setMotorType", operation<&Driver::setMotorType>(), py::arg("type"),
            "Sets the motor type.");
    cls.def("getMotorType", operation<&Driver::getMotorType>(),
            "Reads the motor type.");
    cls.def("setCANBaudRate", operation<&Driver::setCANBaudRate>(), py::arg("rate"),
            "Sets the device's CAN bit rate; a selector outside 0-8 gives RET_INVALID_ARGUMENT and sends nothing.");
    cls.def("getCANBaudRate", operation<&Driver::getCANBaudRate>(),
            "Reads the device's CAN bit rate; a rate outside the selector table reads as -1.");
    cls.def("configureMotorEncoder", operation<&Driver::configureMotorEncoder>(), py::arg("type"), py::arg("resolution"), py::arg("use_index"),
            "Configures the motor encoder.");
    cls.def("getMotorEncoderConfiguration", operation<&Driver::getMotorEncoderConfiguration>(),
            "Reads the motor encoder configuration.");
    cls.def("configureOutputEncoder", operation<&Driver::configureOutputEncoder>(), py::arg("type"), py::arg("resolution"), py::arg("use_index"),
            "Configures and enables the output encoder.");
    cls.def("disableOutputEncoder", operation<&Driver::disableOutputEncoder>(),
            "Disables the output encoder.");
    cls.def("getOutputEncoderConfiguration", operation<&Driver::getOutputEncoderConfiguration>(),
            "Reads the output encoder configuration.");
    cls.def("getMotorEncoderState", operation<&Driver::getMotorEncoderState>(),
            "Reads the three motor encoder state flags.");
    cls.def("getOutputEncoderState", operation<&Driver::getOutputEncoderState>(),
            "Reads the two output encoder state flags.");
    cls.def("getHallEncoderState", operation<&Driver::getHallEncoderState>(),
            "Reads the hall sensor state.");
    cls.def("getHallEncoderStateCounts", operation<&Driver::getHallEncoderStateCounts>(),
            "Reads the eight hall state counts in two exchanges. RET_OK only when both answered; after a time-out of the first the second is still made.");
    cls.def("getMAxxxSPIRegister", operation<&Driver::getMAxxxSPIRegister>(), py::arg("output"), py::arg("reg"),
            "Reads register `reg` and the device's flag for the read.");
    cls.def("setMAxxxSPIRegister", operation<&Driver::setMAxxxSPIRegister>(), py::arg("output"), py::arg("reg"), py::arg("value"),
            "Writes register `reg`; not confirmed.");
    cls.def("getMAxxxBCTValue", operation<&Driver::getMAxxxBCTValue>(), py::arg("output"),
            "Reads the bias current trimming value (register 2).");
    cls.def("setMAxxxBCTValue", operation<&Driver::setMAxxxBCTValue>(), py::arg("output"), py::arg("value"),
            "Writes the bias current trimming value (register 2).");
    cls.def("getMAxxxFilterWindow", operation<&Driver::getMAxxxFilterWindow>(), py::arg("output"),
            "Reads the filter window (register 14).");
    cls.def("setMAxxxFilterWindow", operation<&Driver::setMAxxxFilterWindow>(), py::arg("output"), py::arg("value"),
            "Writes the filter window (register 14).");
    cls.def("getMAxxxTrimmingSettings", operation<&Driver::getMAxxxTrimmingSettings>(), py::arg("output"),
            "Reads the two trimming flags (register 3, bits 0 and 1).");
    cls.def("setMAxxxTrimmingSettings", operation<&Driver::setMAxxxTrimmingSettings>(), py::arg("output"), py::arg("first"), py::arg("second"),
            "Writes the two trimming flags (register 3).");
    // Operations that are not one exchange.
    cls.def("exportConfiguration", &Driver::exportConfiguration, py::call_guard<py::gil_scoped_release>(),
            "Reads the driver's configuration and returns it as JSON text; empty when a read failed.");
    cls.def(
        "importConfiguration",
        [](Driver& self, std::string text) {
            py::gil_scoped_release release;
            return self.importConfiguration(std::move(text)) != 0;
        },
        py::arg("text"),
        "Writes a JSON configuration document into the driver; True when every group was applied or "
        "skipped, False when a write failed. Raises RuntimeError for text that is not a valid document, "
        "before anything is sent.");
    cls.def(
        "clearMAxxxOffAxisCalibration",
        [](Driver& self, bool output) {
            py::gil_scoped_release release;
            self.clearMAxxxOffAxisCalibration(output);
        },
        py::arg("output"), "Resets the off-axis calibration stored in the encoder's sensor chip.");
    cls.def(
        "runMAxxxOffAxisCalibration",
        [](Driver& self, bool output, float speed, py::object progress, py::object samples, ProcedureClock* clock,
           CancelFlag* cancel, double read_timeout) {
            return runCalibration(
                [&](const OffAxisCalibrationOptions& options) {
                    return self.runMAxxxOffAxisCalibration(output, speed, options);
                },
                std::move(progress), std::move(samples), clock, cancel, read_timeout);
        },
        py::arg("output"), py::arg("speed"), py::arg("progress") = py::none(), py::arg("samples") = py::none(),
        py::arg("clock") = py::none(), py::arg("cancel") = py::none(), py::arg("read_timeout") = 2.0,
        "Calibrates the off-axis error of an encoder's sensor chip while the shaft turns at `speed` degrees "
        "per second and returns an OffAxisCalibrationResult. `progress(stage, sample)` and "
        "`samples(OffAxisSamples)` observe it (an exception they raise cancels the run and is raised "
        "again); `clock`, `cancel` and `read_timeout` (seconds) as for flash.");
    addFlash(cls);
}

}  // namespace kinetra::python
