#include <kinetra/actuator.h>

#include <kinetra/control_cycle.h>

#include "devices/cycle_read.h"

#include "devices/device_traits.h"
#include "devices/motor_controller.h"

using kinetra::forwardTo;

// The actuator shares the driver's protocol; these are the replies it lays out
// its own way.
struct Actuator::ActuatorImpl : kinetra::MotorController<kinetra::ActuatorTraits> {
    using kinetra::MotorController<kinetra::ActuatorTraits>::MotorController;

    /// Passed through as sent: the actuator's codes are not the driver's table.
    ret_status_t getErrorCode(unsigned int* code) { return getRawErrorCode(code); }

    ret_status_t getMotorThermistorConfiguration(bool* enabled, unsigned short* b, unsigned short* c, unsigned char* d,
                                                 unsigned char* e) {
        return query<kinetra::protocol::motor::kGetMotorThermistorConfiguration>(b, c, d, e, enabled);
    }
    ret_status_t getMotorEncoderState(bool* a, bool* b) {
        return query<kinetra::protocol::motor::kGetMotorEncoderState>(a, b);
    }
    /// The reply carries two flags; the actuator's state is the second.
    ret_status_t getOutputEncoderState(bool* b) {
        bool first = false;
        bool second = false;
        const ret_status_t status = query<kinetra::protocol::motor::kGetOutputEncoderState>(&first, &second);
        if (status == RET_OK) *b = second;
        return status;
    }
};

Actuator::Actuator(unsigned int node_id, Interface* iface) : impl_(nullptr), iface_(iface) {
    node_id_ = node_id;
    impl_ = new ActuatorImpl(node_id, iface);
    // Without an interface the proxy only reports RET_NOT_INITIALISED.
    if (iface_ != nullptr) iface_->registerCANMsgCallback(this);
}

Actuator::~Actuator() {
    if (impl_ == nullptr) return;
    // An interface destroyed first has no registry left to leave.
    if (Interface* iface = impl_->iface()) iface->unregisterCANMsgCallback(this);
    delete impl_;
    impl_ = nullptr;
}

void Actuator::canMsgCallback(can_frame_data* frame) {
    if (impl_ != nullptr) impl_->handleFrame(frame);
}

bool Actuator::isConnected() { return impl_ != nullptr && impl_->isConnected(); }

void Actuator::setOutputLogStream(std::ostream* stream) {
    if (impl_ != nullptr) impl_->setOutputLogStream(stream);
}

// The operations: each runs on the implementation, whose classes hold the frames.
ret_status_t Actuator::setPositionControl(float position, float b) {
    return forwardTo(impl_, &ActuatorImpl::setPositionControl, position, b);
}

ret_status_t Actuator::setVelocityControl(float velocity) {
    return forwardTo(impl_, &ActuatorImpl::setVelocityControl, velocity);
}

ret_status_t Actuator::setVelocityRampControl(float velocity, float ramp) {
    return forwardTo(impl_, &ActuatorImpl::setVelocityRampControl, velocity, ramp);
}

ret_status_t Actuator::setTorqueControl(float torque, float b) {
    return forwardTo(impl_, &ActuatorImpl::setTorqueControl, torque, b);
}

ret_status_t Actuator::setPositionControlWithFeedForward(float position, float b, float c) {
    return forwardTo(impl_, &ActuatorImpl::setPositionControlWithFeedForward, position, b, c);
}

ret_status_t Actuator::setVelocityControlWithFeedForward(float velocity, float b) {
    return forwardTo(impl_, &ActuatorImpl::setVelocityControlWithFeedForward, velocity, b);
}

ret_status_t Actuator::setTrapezoidalTrajectoryControl(float position, float b, float c, float d) {
    return forwardTo(impl_, &ActuatorImpl::setTrapezoidalTrajectoryControl, position, b, c, d);
}

ret_status_t Actuator::setScurveTrajectoryControl(float position, float b, float c, float d) {
    return forwardTo(impl_, &ActuatorImpl::setScurveTrajectoryControl, position, b, c, d);
}

ret_status_t Actuator::setDeviceToIdle() { return forwardTo(impl_, &ActuatorImpl::setDeviceToIdle); }

ret_status_t Actuator::setDeviceToActive() { return forwardTo(impl_, &ActuatorImpl::setDeviceToActive); }

ret_status_t Actuator::emergencyStop() { return forwardTo(impl_, &ActuatorImpl::emergencyStop); }

ret_status_t Actuator::clearActuatorErrors() { return forwardTo(impl_, &ActuatorImpl::clearErrors); }

ret_status_t Actuator::rebootActuator() { return forwardTo(impl_, &ActuatorImpl::reboot); }

ret_status_t Actuator::runCalibrationSequence() { return forwardTo(impl_, &ActuatorImpl::runCalibrationSequence); }

ret_status_t Actuator::setCurrentPostionToZero() { return forwardTo(impl_, &ActuatorImpl::setCurrentPositionToZero); }

ret_status_t Actuator::saveConfigurations() { return forwardTo(impl_, &ActuatorImpl::saveConfigurations); }

ret_status_t Actuator::eraseConfigurations() { return forwardTo(impl_, &ActuatorImpl::eraseConfigurations); }

ret_status_t Actuator::getNodeId(unsigned int* id) { return forwardTo(impl_, &ActuatorImpl::getNodeId, id); }

ret_status_t Actuator::setNodeId(unsigned int id) { return forwardTo(impl_, &ActuatorImpl::setNodeId, id); }

ret_status_t Actuator::getHardwareVersion(unsigned char* a, unsigned char* b, unsigned char* c, unsigned char* d) {
    return forwardTo(impl_, &ActuatorImpl::getHardwareVersion, a, b, c, d);
}

ret_status_t Actuator::getFirmwareVersion(unsigned char* major, unsigned char* minor, unsigned short* patch) {
    return forwardTo(impl_, &ActuatorImpl::getFirmwareVersion, major, minor, patch);
}

ret_status_t Actuator::getFirmwareCommit(std::string* commit) {
    return forwardTo(impl_, &ActuatorImpl::getFirmwareCommit, commit);
}

ret_status_t Actuator::getBusVoltage(float* voltage) { return forwardTo(impl_, &ActuatorImpl::getBusVoltage, voltage); }

ret_status_t Actuator::getBusCurrent(float* current) { return forwardTo(impl_, &ActuatorImpl::getBusCurrent, current); }

ret_status_t Actuator::getMotorTemperature(float* temperature) {
    return forwardTo(impl_, &ActuatorImpl::getMotorTemperature, temperature);
}

ret_status_t Actuator::getDriverTemperature(float* temperature) {
    return forwardTo(impl_, &ActuatorImpl::getDriverTemperature, temperature);
}

ret_status_t Actuator::getMotorPhaseCurrents(float* a, float* b, float* c) {
    return forwardTo(impl_, &ActuatorImpl::getMotorPhaseCurrents, a, b, c);
}

ret_status_t Actuator::getDCCalibPhaseCurrents(float* a, float* b, float* c) {
    return forwardTo(impl_, &ActuatorImpl::getDCCalibPhaseCurrents, a, b, c);
}

ret_status_t Actuator::getIdqCurrents(float* d, float* q) {
    return forwardTo(impl_, &ActuatorImpl::getIdqCurrents, d, q);
}

ret_status_t Actuator::getMotorPosition(float* position) {
    return forwardTo(impl_, &ActuatorImpl::getMotorPosition, position);
}

ret_status_t Actuator::getMotorVelocity(float* velocity) {
    return forwardTo(impl_, &ActuatorImpl::getMotorVelocity, velocity);
}

ret_status_t Actuator::getMotorAcceleration(float* acceleration) {
    return forwardTo(impl_, &ActuatorImpl::getMotorAcceleration, acceleration);
}

ret_status_t Actuator::getMotorTorque(float* torque) { return forwardTo(impl_, &ActuatorImpl::getMotorTorque, torque); }

ret_status_t Actuator::getOutputPosition(float* position) {
    return forwardTo(impl_, &ActuatorImpl::getOutputPosition, position);
}

ret_status_t Actuator::getOutputVelocity(float* velocity) {
    return forwardTo(impl_, &ActuatorImpl::getOutputVelocity, velocity);
}

ret_status_t Actuator::getOutputAcceleration(float* acceleration) {
    return forwardTo(impl_, &ActuatorImpl::getOutputAcceleration, acceleration);
}

ret_status_t Actuator::getOutputTorque(float* torque) {
    return forwardTo(impl_, &ActuatorImpl::getOutputTorque, torque);
}

ret_status_t Actuator::getMotorEncoderRawData(int* raw) {
    return forwardTo(impl_, &ActuatorImpl::getMotorEncoderRawData, raw);
}

ret_status_t Actuator::getOutputEncoderRawData(int* raw) {
    return forwardTo(impl_, &ActuatorImpl::getOutputEncoderRawData, raw);
}

ret_status_t Actuator::getControllerState(unsigned char* state) {
    return forwardTo(impl_, &ActuatorImpl::getControllerState, state);
}

ret_status_t Actuator::getControllerMode(unsigned short* mode) {
    return forwardTo(impl_, &ActuatorImpl::getControllerMode, mode);
}

ret_status_t Actuator::getMotorState(bool* a, bool* b) { return forwardTo(impl_, &ActuatorImpl::getMotorState, a, b); }

ret_status_t Actuator::getTrajectoryDoneStatus(bool* done) {
    return forwardTo(impl_, &ActuatorImpl::getTrajectoryDoneStatus, done);
}

ret_status_t Actuator::getCANCommunicationStatus(bool* a, bool* b) {
    return forwardTo(impl_, &ActuatorImpl::getCANCommunicationStatus, a, b);
}

ret_status_t Actuator::getDriverFault(unsigned int* fault) {
    return forwardTo(impl_, &ActuatorImpl::getDriverFault, fault);
}

ret_status_t Actuator::getErrorCode(unsigned int* error) {
    return forwardTo(impl_, &ActuatorImpl::getErrorCode, error);
}

ret_status_t Actuator::getDebugErrorCode(unsigned long long* e1, unsigned long long* e2, unsigned long long* e3,
                                         unsigned long long* e4, unsigned long long* e5, unsigned long long* e6) {
    return forwardTo(impl_, &ActuatorImpl::getDebugErrorCode, e1, e2, e3, e4, e5, e6);
}

ret_status_t Actuator::setDCBusTripLevels(float undervoltage, float overvoltage) {
    return forwardTo(impl_, &ActuatorImpl::setDCBusTripLevels, undervoltage, overvoltage);
}

ret_status_t Actuator::getDCBusTripLevels(float* undervoltage, float* overvoltage) {
    return forwardTo(impl_, &ActuatorImpl::getDCBusTripLevels, undervoltage, overvoltage);
}

ret_status_t Actuator::setRegenCurrentTripLevel(float level) {
    return forwardTo(impl_, &ActuatorImpl::setRegenCurrentTripLevel, level);
}

ret_status_t Actuator::getRegenCurrentTripLevel(float* level) {
    return forwardTo(impl_, &ActuatorImpl::getRegenCurrentTripLevel, level);
}

ret_status_t Actuator::setPositionControllerGain(float gain) {
    return forwardTo(impl_, &ActuatorImpl::setPositionControllerGain, gain);
}

ret_status_t Actuator::getPositionControllerGain(float* gain) {
    return forwardTo(impl_, &ActuatorImpl::getPositionControllerGain, gain);
}

ret_status_t Actuator::setVelocityControllerGains(float gain, float integrator_gain) {
    return forwardTo(impl_, &ActuatorImpl::setVelocityControllerGains, gain, integrator_gain);
}

ret_status_t Actuator::getVelocityControllerGains(float* gain, float* integrator_gain) {
    return forwardTo(impl_, &ActuatorImpl::getVelocityControllerGains, gain, integrator_gain);
}

ret_status_t Actuator::setCurrentControllerBandwidth(float bandwidth) {
    return forwardTo(impl_, &ActuatorImpl::setCurrentControllerBandwidth, bandwidth);
}

ret_status_t Actuator::getCurrentControllerBandwidth(float* bandwidth) {
    return forwardTo(impl_, &ActuatorImpl::getCurrentControllerBandwidth, bandwidth);
}

ret_status_t Actuator::getCurrentControllerGains(float* gain, float* integrator_gain) {
    return forwardTo(impl_, &ActuatorImpl::getCurrentControllerGains, gain, integrator_gain);
}

ret_status_t Actuator::setMotorEncoderBandwidth(float bandwidth) {
    return forwardTo(impl_, &ActuatorImpl::setMotorEncoderBandwidth, bandwidth);
}

ret_status_t Actuator::getMotorEncoderBandwidth(float* bandwidth) {
    return forwardTo(impl_, &ActuatorImpl::getMotorEncoderBandwidth, bandwidth);
}

ret_status_t Actuator::getZeroPosition(float* position) {
    return forwardTo(impl_, &ActuatorImpl::getZeroPosition, position);
}

ret_status_t Actuator::enableMotorThermalLimit(unsigned short upper_limit) {
    return forwardTo(impl_, &ActuatorImpl::enableMotorThermalLimit, upper_limit);
}

ret_status_t Actuator::disableMotorThermalLimit() { return forwardTo(impl_, &ActuatorImpl::disableMotorThermalLimit); }

ret_status_t Actuator::getMotorThermistorConfiguration(bool* enabled, unsigned short* b, unsigned short* c,
                                                       unsigned char* d, unsigned char* e) {
    return forwardTo(impl_, &ActuatorImpl::getMotorThermistorConfiguration, enabled, b, c, d, e);
}

ret_status_t Actuator::setCurrentFilter(float filter) {
    return forwardTo(impl_, &ActuatorImpl::setCurrentFilter, filter);
}

ret_status_t Actuator::getCurrentFilter(float* filter) {
    return forwardTo(impl_, &ActuatorImpl::getCurrentFilter, filter);
}

ret_status_t Actuator::setEncoderDataFilter(float filter) {
    return forwardTo(impl_, &ActuatorImpl::setEncoderDataFilter, filter);
}

ret_status_t Actuator::getEncoderDataFilter(float* filter) {
    return forwardTo(impl_, &ActuatorImpl::getEncoderDataFilter, filter);
}

ret_status_t Actuator::getMotorPhaseParameters(float* resistance, float* inductance) {
    return forwardTo(impl_, &ActuatorImpl::getMotorPhaseParameters, resistance, inductance);
}

ret_status_t Actuator::getMotorEncoderState(bool* a, bool* b) {
    return forwardTo(impl_, &ActuatorImpl::getMotorEncoderState, a, b);
}

ret_status_t Actuator::getOutputEncoderState(bool* b) {
    return forwardTo(impl_, &ActuatorImpl::getOutputEncoderState, b);
}

ret_status_t Actuator::flash(std::string path, bool already_in_dfu) {
    return flash(std::move(path), already_in_dfu, kinetra::FlashOptions{});
}

ret_status_t Actuator::flash(std::string path, bool already_in_dfu, const kinetra::FlashOptions& options) {
    if (impl_ == nullptr) return RET_NOT_INITIALISED;
    return impl_->flash(path, already_in_dfu, options);
}

kinetra::CycleProxy ControlCycle::proxyOf(Actuator& actuator) {
    return kinetra::cycleProxyOf(actuator.impl_, kinetra::CycleClass::Actuator);
}
