// The Actuator class: every operation returns its status, a read the status and
// its values as one tuple.

#include <kinetra/actuator.h>

#include "bindings.h"
#include "operation.h"
#include "procedures.h"
#include "proxy_common.h"

namespace kinetra::python {

void bindActuator(py::module_& m) {
    auto cls = bindProxy<Actuator>(m, "Actuator", "Proxy of one actuator node, with the conventions of Driver.");
    cls.def("setPositionControl", operation<&Actuator::setPositionControl>(), py::arg("position"), py::arg("b"),
            "Position control to `position`; `b` travels as a 16-bit integer.");
    cls.def("setVelocityControl", operation<&Actuator::setVelocityControl>(), py::arg("velocity"),
            "Velocity control; the same frame as setVelocityRampControl(velocity, 0).");
    cls.def("setVelocityRampControl", operation<&Actuator::setVelocityRampControl>(), py::arg("velocity"), py::arg("ramp"),
            "Velocity control with a ramp.");
    cls.def("setTorqueControl", operation<&Actuator::setTorqueControl>(), py::arg("torque"), py::arg("b"),
            "Torque control to `torque`; `b` travels as a float.");
    cls.def("setPositionControlWithFeedForward", operation<&Actuator::setPositionControlWithFeedForward>(), py::arg("position"), py::arg("b"), py::arg("c"),
            "Position control with feed-forward terms: `b` as a 16-bit integer, `c` in hundredths.");
    cls.def("setVelocityControlWithFeedForward", operation<&Actuator::setVelocityControlWithFeedForward>(), py::arg("velocity"), py::arg("b"),
            "Velocity control with a feed-forward term.");
    cls.def("setTrapezoidalTrajectoryControl", operation<&Actuator::setTrapezoidalTrajectoryControl>(), py::arg("position"), py::arg("b"), py::arg("c"), py::arg("d"),
            "Trapezoidal trajectory to `position`: `b` as a 16-bit integer, `c` and `d` in tenths (8 bits).");
    cls.def("setScurveTrajectoryControl", operation<&Actuator::setScurveTrajectoryControl>(), py::arg("position"), py::arg("b"), py::arg("c"), py::arg("d"),
            "S-curve trajectory to `position`, arguments as for the trapezoidal one.");
    cls.def("setDeviceToIdle", operation<&Actuator::setDeviceToIdle>(),
            "Puts the device into idle.");
    cls.def("setDeviceToActive", operation<&Actuator::setDeviceToActive>(),
            "Puts the device into its active (closed-loop) state.");
    cls.def("emergencyStop", operation<&Actuator::emergencyStop>(),
            "Stops the motor at once (sent as a remote frame; no reply).");
    cls.def("clearActuatorErrors", operation<&Actuator::clearActuatorErrors>(),
            "Clears the actuator's errors.");
    cls.def("rebootActuator", operation<&Actuator::rebootActuator>(),
            "Restarts the actuator.");
    cls.def("runCalibrationSequence", operation<&Actuator::runCalibrationSequence>(),
            "Runs the motor calibration sequence.");
    cls.def("setCurrentPostionToZero", operation<&Actuator::setCurrentPostionToZero>(),
            "Makes the current position the zero position.");
    cls.def("saveConfigurations", operation<&Actuator::saveConfigurations>(),
            "Makes the device store its current configuration permanently.");
    cls.def("eraseConfigurations", operation<&Actuator::eraseConfigurations>(),
            "Makes the device erase its stored configuration.");
    cls.def("getNodeId", operation<&Actuator::getNodeId>(),
            "Reads the node identifier the device reports.");
    cls.def("setNodeId", operation<&Actuator::setNodeId>(), py::arg("id"),
            "Tells the device its new node identifier; this proxy keeps addressing the old one.");
    cls.def("getHardwareVersion", operation<&Actuator::getHardwareVersion>(),
            "Reads the four hardware version numbers.");
    cls.def("getFirmwareVersion", operation<&Actuator::getFirmwareVersion>(),
            "Reads the firmware version.");
    cls.def("getFirmwareCommit", operation<&Actuator::getFirmwareCommit>(),
            "Reads the firmware commit: exactly seven characters as the device sends them.");
    cls.def("getBusVoltage", operation<&Actuator::getBusVoltage>(),
            "Reads the DC bus voltage.");
    cls.def("getBusCurrent", operation<&Actuator::getBusCurrent>(),
            "Reads the DC bus current.");
    cls.def("getMotorTemperature", operation<&Actuator::getMotorTemperature>(),
            "Reads the motor temperature.");
    cls.def("getDriverTemperature", operation<&Actuator::getDriverTemperature>(),
            "Reads the temperature of the actuator's electronics.");
    cls.def("getMotorPhaseCurrents", operation<&Actuator::getMotorPhaseCurrents>(),
            "Reads the phase currents; `a` is computed as -(b + c).");
    cls.def("getDCCalibPhaseCurrents", operation<&Actuator::getDCCalibPhaseCurrents>(),
            "Reads the phase currents measured during DC calibration; `a` is computed as -(b + c).");
    cls.def("getIdqCurrents", operation<&Actuator::getIdqCurrents>(),
            "Reads the d- and q-axis currents.");
    cls.def("getMotorPosition", operation<&Actuator::getMotorPosition>(),
            "Reads the motor-side position.");
    cls.def("getMotorVelocity", operation<&Actuator::getMotorVelocity>(),
            "Reads the motor-side velocity.");
    cls.def("getMotorAcceleration", operation<&Actuator::getMotorAcceleration>(),
            "Reads the motor-side acceleration.");
    cls.def("getMotorTorque", operation<&Actuator::getMotorTorque>(),
            "Reads the motor-side torque.");
    cls.def("getOutputPosition", operation<&Actuator::getOutputPosition>(),
            "Reads the output-side position.");
    cls.def("getOutputVelocity", operation<&Actuator::getOutputVelocity>(),
            "Reads the output-side velocity.");
    cls.def("getOutputAcceleration", operation<&Actuator::getOutputAcceleration>(),
            "Reads the output-side acceleration.");
    cls.def("getOutputTorque", operation<&Actuator::getOutputTorque>(),
            "Reads the output-side torque.");
    cls.def("getMotorEncoderRawData", operation<&Actuator::getMotorEncoderRawData>(),
            "Reads the motor encoder's raw count.");
    cls.def("getOutputEncoderRawData", operation<&Actuator::getOutputEncoderRawData>(),
            "Reads the output encoder's raw count.");
    cls.def("getControllerState", operation<&Actuator::getControllerState>(),
            "Reads the controller state.");
    cls.def("getControllerMode", operation<&Actuator::getControllerMode>(),
            "Reads the controller mode.");
    cls.def("getMotorState", operation<&Actuator::getMotorState>(),
            "Reads the two motor state flags.");
    cls.def("getTrajectoryDoneStatus", operation<&Actuator::getTrajectoryDoneStatus>(),
            "Reads whether the last trajectory has finished.");
    cls.def("getCANCommunicationStatus", operation<&Actuator::getCANCommunicationStatus>(),
            "Reads the two CAN communication status flags.");
    cls.def("getDriverFault", operation<&Actuator::getDriverFault>(),
            "Reads the fault word.");
    cls.def("getErrorCode", operation<&Actuator::getErrorCode>(),
            "Reads the error code as the actuator sends it.");
    cls.def("getDebugErrorCode", operation<&Actuator::getDebugErrorCode>(),
            "Reads the six debug error words, one exchange each; stops at the first that fails, leaving the later words untouched.");
    cls.def("setDCBusTripLevels", operation<&Actuator::setDCBusTripLevels>(), py::arg("undervoltage"), py::arg("overvoltage"),
            "Sets the DC bus under- and overvoltage trip levels.");
    cls.def("getDCBusTripLevels", operation<&Actuator::getDCBusTripLevels>(),
            "Reads the DC bus under- and overvoltage trip levels.");
    cls.def("setRegenCurrentTripLevel", operation<&Actuator::setRegenCurrentTripLevel>(), py::arg("level"),
            "Sets the regeneration current trip level.");
    cls.def("getRegenCurrentTripLevel", operation<&Actuator::getRegenCurrentTripLevel>(),
            "Reads the regeneration current trip level.");
    cls.def("setPositionControllerGain", operation<&Actuator::setPositionControllerGain>(), py::arg("gain"),
            "Sets the position controller gain.");
    cls.def("getPositionControllerGain", operation<&Actuator::getPositionControllerGain>(),
            "Reads the position controller gain.");
    cls.def("setVelocityControllerGains", operation<&Actuator::setVelocityControllerGains>(), py::arg("gain"), py::arg("integrator_gain"),
            "Sets the velocity controller gain and integrator gain.");
    cls.def("getVelocityControllerGains", operation<&Actuator::getVelocityControllerGains>(),
            "Reads the velocity controller gain and integrator gain.");
    cls.def("setCurrentControllerBandwidth", operation<&Actuator::setCurrentControllerBandwidth>(), py::arg("bandwidth"),
            "Sets the current controller bandwidth.");
    cls.def("getCurrentControllerBandwidth", operation<&Actuator::getCurrentControllerBandwidth>(),
            "Reads the current controller bandwidth.");
    cls.def("getCurrentControllerGains", operation<&Actuator::getCurrentControllerGains>(),
            "Reads the current controller gain and integrator gain.");
    cls.def("setMotorEncoderBandwidth", operation<&Actuator::setMotorEncoderBandwidth>(), py::arg("bandwidth"),
            "Sets the motor encoder bandwidth.");
    cls.def("getMotorEncoderBandwidth", operation<&Actuator::getMotorEncoderBandwidth>(),
            "Reads the motor encoder bandwidth.");
    cls.def("getZeroPosition", operation<&Actuator::getZeroPosition>(),
            "Reads the zero position.");
    cls.def("enableMotorThermalLimit", operation<&Actuator::enableMotorThermalLimit>(), py::arg("upper_limit"),
            "Enables the motor thermal limit with the given upper temperature.");
    cls.def("disableMotorThermalLimit", operation<&Actuator::disableMotorThermalLimit>(),
            "Disables the motor thermal limit.");
    cls.def("getMotorThermistorConfiguration", operation<&Actuator::getMotorThermistorConfiguration>(),
            "Reads the thermistor configuration: whether the thermal limit is enabled and four values whose meaning is the actuator firmware's.");
    cls.def("setCurrentFilter", operation<&Actuator::setCurrentFilter>(), py::arg("filter"),
            "Sets the current filter.");
    cls.def("getCurrentFilter", operation<&Actuator::getCurrentFilter>(),
            "Reads the current filter.");
    cls.def("setEncoderDataFilter", operation<&Actuator::setEncoderDataFilter>(), py::arg("filter"),
            "Sets the encoder data filter.");
    cls.def("getEncoderDataFilter", operation<&Actuator::getEncoderDataFilter>(),
            "Reads the encoder data filter.");
    cls.def("getMotorPhaseParameters", operation<&Actuator::getMotorPhaseParameters>(),
            "Reads the motor's phase resistance and inductance.");
    cls.def("getMotorEncoderState", operation<&Actuator::getMotorEncoderState>(),
            "Reads the two motor encoder state flags.");
    cls.def("getOutputEncoderState", operation<&Actuator::getOutputEncoderState>(),
            "Reads the output encoder state flag.");
    addFlash(cls);
}

}  // namespace kinetra::python
