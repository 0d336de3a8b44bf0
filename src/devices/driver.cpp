#include <kinetra/driver.h>

#include <kinetra/control_cycle.h>

#include "devices/cycle_read.h"

#include "devices/motor_driver_commands.h"
#include "devices/motor_offaxis_reset.h"

#include <kinetra/procedure_clock.h>

#include <iostream>
#include <thread>

using kinetra::forwardTo;

struct Driver::DriverImpl : kinetra::DriverCommands {
    using kinetra::DriverCommands::DriverCommands;
};

Driver::Driver(unsigned int node_id, Interface* iface) : impl_(nullptr), iface_(iface) {
    node_id_ = node_id;
    impl_ = new DriverImpl(node_id, iface);
    // Without an interface the proxy only reports RET_NOT_INITIALISED.
    if (iface_ != nullptr) iface_->registerCANMsgCallback(this);
}

Driver::~Driver() {
    if (impl_ == nullptr) return;
    // An interface destroyed first has no registry left to leave.
    if (Interface* iface = impl_->iface()) iface->unregisterCANMsgCallback(this);
    delete impl_;
    impl_ = nullptr;
}

void Driver::canMsgCallback(can_frame_data* frame) {
    if (impl_ != nullptr) impl_->handleFrame(frame);
}

bool Driver::isConnected() { return impl_ != nullptr && impl_->isConnected(); }

void Driver::setOutputLogStream(std::ostream* stream) {
    if (impl_ != nullptr) impl_->setOutputLogStream(stream);
}

unsigned char Driver::clearMAxxxOffAxisCalibration(bool output) {
    kinetra::clearOffAxisCalibration(impl_, output, std::cout,
                                     [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); });
    return 1;
}

// The operations: each runs on the implementation, whose classes hold the frames.
ret_status_t Driver::setPositionControl(float position, float b) {
    return forwardTo(impl_, &DriverImpl::setPositionControl, position, b);
}

ret_status_t Driver::setVelocityControl(float velocity) {
    return forwardTo(impl_, &DriverImpl::setVelocityControl, velocity);
}

ret_status_t Driver::setVelocityRampControl(float velocity, float ramp) {
    return forwardTo(impl_, &DriverImpl::setVelocityRampControl, velocity, ramp);
}

ret_status_t Driver::setTorqueControl(float torque, float b) {
    return forwardTo(impl_, &DriverImpl::setTorqueControl, torque, b);
}

ret_status_t Driver::setPositionControlWithFeedForward(float position, float b, float c) {
    return forwardTo(impl_, &DriverImpl::setPositionControlWithFeedForward, position, b, c);
}

ret_status_t Driver::setVelocityControlWithFeedForward(float velocity, float b) {
    return forwardTo(impl_, &DriverImpl::setVelocityControlWithFeedForward, velocity, b);
}

ret_status_t Driver::setTrapezoidalTrajectoryControl(float position, float b, float c, float d) {
    return forwardTo(impl_, &DriverImpl::setTrapezoidalTrajectoryControl, position, b, c, d);
}

ret_status_t Driver::setScurveTrajectoryControl(float position, float b, float c, float d) {
    return forwardTo(impl_, &DriverImpl::setScurveTrajectoryControl, position, b, c, d);
}

ret_status_t Driver::setTorqueRampControl(float torque, float b, float c) {
    return forwardTo(impl_, &DriverImpl::setTorqueRampControl, torque, b, c);
}

ret_status_t Driver::setSensorlessVelocityControl(float velocity, float b, float c) {
    return forwardTo(impl_, &DriverImpl::setSensorlessVelocityControl, velocity, b, c);
}

ret_status_t Driver::setOpenLoopPositionControl(short a, short b, short c, float d) {
    return forwardTo(impl_, &DriverImpl::setOpenLoopPositionControl, a, b, c, d);
}

ret_status_t Driver::setOpenLoopVelocityControl(short a, short b, float c) {
    return forwardTo(impl_, &DriverImpl::setOpenLoopVelocityControl, a, b, c);
}

ret_status_t Driver::setDeviceToIdle() { return forwardTo(impl_, &DriverImpl::setDeviceToIdle); }

ret_status_t Driver::setDeviceToActive() { return forwardTo(impl_, &DriverImpl::setDeviceToActive); }

ret_status_t Driver::emergencyStop() { return forwardTo(impl_, &DriverImpl::emergencyStop); }

ret_status_t Driver::clearDriverErrors() { return forwardTo(impl_, &DriverImpl::clearErrors); }

ret_status_t Driver::rebootDriver() { return forwardTo(impl_, &DriverImpl::reboot); }

ret_status_t Driver::runCalibrationSequence() { return forwardTo(impl_, &DriverImpl::runCalibrationSequence); }

ret_status_t Driver::runEncoderIndexSearch() { return forwardTo(impl_, &DriverImpl::runEncoderIndexSearch); }

ret_status_t Driver::runEncoderMatching() { return forwardTo(impl_, &DriverImpl::runEncoderMatching); }

ret_status_t Driver::runEncoderCalibration() { return forwardTo(impl_, &DriverImpl::runEncoderCalibration); }

ret_status_t Driver::setCurrentPositionToZero() { return forwardTo(impl_, &DriverImpl::setCurrentPositionToZero); }

ret_status_t Driver::setCurrentPositionAs(float position) {
    return forwardTo(impl_, &DriverImpl::setCurrentPositionAs, position);
}

ret_status_t Driver::enterDFUMode() { return forwardTo(impl_, &DriverImpl::enterDFUMode); }

ret_status_t Driver::saveConfigurations() { return forwardTo(impl_, &DriverImpl::saveConfigurations); }

ret_status_t Driver::eraseConfigurations() { return forwardTo(impl_, &DriverImpl::eraseConfigurations); }

ret_status_t Driver::getNodeId(unsigned int* id) { return forwardTo(impl_, &DriverImpl::getNodeId, id); }

ret_status_t Driver::setNodeId(unsigned int id) { return forwardTo(impl_, &DriverImpl::setNodeId, id); }

ret_status_t Driver::getHardwareVersion(unsigned char* a, unsigned char* b, unsigned char* c, unsigned char* d) {
    return forwardTo(impl_, &DriverImpl::getHardwareVersion, a, b, c, d);
}

ret_status_t Driver::getFirmwareVersion(unsigned char* major, unsigned char* minor, unsigned short* patch) {
    return forwardTo(impl_, &DriverImpl::getFirmwareVersion, major, minor, patch);
}

ret_status_t Driver::getFirmwareCommit(std::string* commit) {
    return forwardTo(impl_, &DriverImpl::getFirmwareCommit, commit);
}

ret_status_t Driver::getBusVoltage(float* voltage) { return forwardTo(impl_, &DriverImpl::getBusVoltage, voltage); }

ret_status_t Driver::getBusCurrent(float* current) { return forwardTo(impl_, &DriverImpl::getBusCurrent, current); }

ret_status_t Driver::getBrakeCurrent(float* current) { return forwardTo(impl_, &DriverImpl::getBrakeCurrent, current); }

ret_status_t Driver::getMotorTemperature(float* temperature) {
    return forwardTo(impl_, &DriverImpl::getMotorTemperature, temperature);
}

ret_status_t Driver::getDriverTemperature(float* temperature) {
    return forwardTo(impl_, &DriverImpl::getDriverTemperature, temperature);
}

ret_status_t Driver::getMotorPhaseCurrents(float* a, float* b, float* c) {
    return forwardTo(impl_, &DriverImpl::getMotorPhaseCurrents, a, b, c);
}

ret_status_t Driver::getDCCalibPhaseCurrents(float* a, float* b, float* c) {
    return forwardTo(impl_, &DriverImpl::getDCCalibPhaseCurrents, a, b, c);
}

ret_status_t Driver::getIdqCurrents(float* d, float* q) { return forwardTo(impl_, &DriverImpl::getIdqCurrents, d, q); }

ret_status_t Driver::getMotorPosition(float* position) {
    return forwardTo(impl_, &DriverImpl::getMotorPosition, position);
}

ret_status_t Driver::getMotorVelocity(float* velocity) {
    return forwardTo(impl_, &DriverImpl::getMotorVelocity, velocity);
}

ret_status_t Driver::getMotorAcceleration(float* acceleration) {
    return forwardTo(impl_, &DriverImpl::getMotorAcceleration, acceleration);
}

ret_status_t Driver::getMotorTorque(float* torque) { return forwardTo(impl_, &DriverImpl::getMotorTorque, torque); }

ret_status_t Driver::getOutputPosition(float* position) {
    return forwardTo(impl_, &DriverImpl::getOutputPosition, position);
}

ret_status_t Driver::getOutputVelocity(float* velocity) {
    return forwardTo(impl_, &DriverImpl::getOutputVelocity, velocity);
}

ret_status_t Driver::getOutputAcceleration(float* acceleration) {
    return forwardTo(impl_, &DriverImpl::getOutputAcceleration, acceleration);
}

ret_status_t Driver::getOutputTorque(float* torque) { return forwardTo(impl_, &DriverImpl::getOutputTorque, torque); }

ret_status_t Driver::getMotorEncoderRawData(int* raw) {
    return forwardTo(impl_, &DriverImpl::getMotorEncoderRawData, raw);
}

ret_status_t Driver::getOutputEncoderRawData(int* raw) {
    return forwardTo(impl_, &DriverImpl::getOutputEncoderRawData, raw);
}

ret_status_t Driver::getControllerState(unsigned char* state) {
    return forwardTo(impl_, &DriverImpl::getControllerState, state);
}

ret_status_t Driver::getControllerMode(unsigned short* mode) {
    return forwardTo(impl_, &DriverImpl::getControllerMode, mode);
}

ret_status_t Driver::getMotorState(bool* a, bool* b) { return forwardTo(impl_, &DriverImpl::getMotorState, a, b); }

ret_status_t Driver::getTrajectoryDoneStatus(bool* done) {
    return forwardTo(impl_, &DriverImpl::getTrajectoryDoneStatus, done);
}

ret_status_t Driver::getCANCommunicationStatus(bool* a, bool* b) {
    return forwardTo(impl_, &DriverImpl::getCANCommunicationStatus, a, b);
}

ret_status_t Driver::getDriverFault(unsigned int* fault) {
    return forwardTo(impl_, &DriverImpl::getDriverFault, fault);
}

ret_status_t Driver::getErrorCode(driver_error_t* error) { return forwardTo(impl_, &DriverImpl::getErrorCode, error); }

ret_status_t Driver::getDebugErrorCode(unsigned long long* e1, unsigned long long* e2, unsigned long long* e3,
                                       unsigned long long* e4, unsigned long long* e5, unsigned long long* e6) {
    return forwardTo(impl_, &DriverImpl::getDebugErrorCode, e1, e2, e3, e4, e5, e6);
}

ret_status_t Driver::setDCBusTripLevels(float undervoltage, float overvoltage) {
    return forwardTo(impl_, &DriverImpl::setDCBusTripLevels, undervoltage, overvoltage);
}

ret_status_t Driver::getDCBusTripLevels(float* undervoltage, float* overvoltage) {
    return forwardTo(impl_, &DriverImpl::getDCBusTripLevels, undervoltage, overvoltage);
}

ret_status_t Driver::enableBrakeResistor(float resistance) {
    return forwardTo(impl_, &DriverImpl::enableBrakeResistor, resistance);
}

ret_status_t Driver::disableBrakeResistor() { return forwardTo(impl_, &DriverImpl::disableBrakeResistor); }

ret_status_t Driver::getBrakeResistorState(bool* enabled, float* resistance, bool* c, bool* d) {
    return forwardTo(impl_, &DriverImpl::getBrakeResistorState, enabled, resistance, c, d);
}

ret_status_t Driver::setRegenCurrentTripLevel(float level) {
    return forwardTo(impl_, &DriverImpl::setRegenCurrentTripLevel, level);
}

ret_status_t Driver::getRegenCurrentTripLevel(float* level) {
    return forwardTo(impl_, &DriverImpl::getRegenCurrentTripLevel, level);
}

ret_status_t Driver::setMotorParameters(unsigned char pole_pairs, unsigned short kv_rating, float current_limit) {
    return forwardTo(impl_, &DriverImpl::setMotorParameters, pole_pairs, kv_rating, current_limit);
}

ret_status_t Driver::getMotorParameters(unsigned char* pole_pairs, unsigned short* kv_rating, float* current_limit) {
    return forwardTo(impl_, &DriverImpl::getMotorParameters, pole_pairs, kv_rating, current_limit);
}

ret_status_t Driver::setMotorCalibrationParameters(float voltage, float current) {
    return forwardTo(impl_, &DriverImpl::setMotorCalibrationParameters, voltage, current);
}

ret_status_t Driver::getMotorCalibrationParameters(float* voltage, float* current) {
    return forwardTo(impl_, &DriverImpl::getMotorCalibrationParameters, voltage, current);
}

ret_status_t Driver::setGearBoxParameters(float ratio) {
    return forwardTo(impl_, &DriverImpl::setGearBoxParameters, ratio);
}

ret_status_t Driver::getGearBoxParameters(float* ratio) {
    return forwardTo(impl_, &DriverImpl::getGearBoxParameters, ratio);
}

ret_status_t Driver::setPositionControllerGain(float gain) {
    return forwardTo(impl_, &DriverImpl::setPositionControllerGain, gain);
}

ret_status_t Driver::getPositionControllerGain(float* gain) {
    return forwardTo(impl_, &DriverImpl::getPositionControllerGain, gain);
}

ret_status_t Driver::setVelocityControllerGains(float gain, float integrator_gain) {
    return forwardTo(impl_, &DriverImpl::setVelocityControllerGains, gain, integrator_gain);
}

ret_status_t Driver::getVelocityControllerGains(float* gain, float* integrator_gain) {
    return forwardTo(impl_, &DriverImpl::getVelocityControllerGains, gain, integrator_gain);
}

ret_status_t Driver::setCurrentControllerBandwidth(float bandwidth) {
    return forwardTo(impl_, &DriverImpl::setCurrentControllerBandwidth, bandwidth);
}

ret_status_t Driver::getCurrentControllerBandwidth(float* bandwidth) {
    return forwardTo(impl_, &DriverImpl::getCurrentControllerBandwidth, bandwidth);
}

ret_status_t Driver::getCurrentControllerGains(float* gain, float* integrator_gain) {
    return forwardTo(impl_, &DriverImpl::getCurrentControllerGains, gain, integrator_gain);
}

ret_status_t Driver::setMotorEncoderBandwidth(float bandwidth) {
    return forwardTo(impl_, &DriverImpl::setMotorEncoderBandwidth, bandwidth);
}

ret_status_t Driver::getMotorEncoderBandwidth(float* bandwidth) {
    return forwardTo(impl_, &DriverImpl::getMotorEncoderBandwidth, bandwidth);
}

ret_status_t Driver::getZeroPosition(float* position) {
    return forwardTo(impl_, &DriverImpl::getZeroPosition, position);
}

ret_status_t Driver::setMotorThermistorParameters(float r_ref, unsigned short beta) {
    return forwardTo(impl_, &DriverImpl::setMotorThermistorParameters, r_ref, beta);
}

ret_status_t Driver::enableMotorThermalLimit(unsigned short upper_limit) {
    return forwardTo(impl_, &DriverImpl::enableMotorThermalLimit, upper_limit);
}

ret_status_t Driver::disableMotorThermalLimit() { return forwardTo(impl_, &DriverImpl::disableMotorThermalLimit); }

ret_status_t Driver::getMotorThermistorConfiguration(bool* enabled, float* r_ref, unsigned short* beta,
                                                     unsigned char* upper_limit, unsigned char* lower_limit) {
    return forwardTo(impl_, &DriverImpl::getMotorThermistorConfiguration, enabled, r_ref, beta, upper_limit,
                     lower_limit);
}

ret_status_t Driver::setCurrentFilter(float filter) { return forwardTo(impl_, &DriverImpl::setCurrentFilter, filter); }

ret_status_t Driver::getCurrentFilter(float* filter) { return forwardTo(impl_, &DriverImpl::getCurrentFilter, filter); }

ret_status_t Driver::setEncoderDataFilter(float filter) {
    return forwardTo(impl_, &DriverImpl::setEncoderDataFilter, filter);
}

ret_status_t Driver::getEncoderDataFilter(float* filter) {
    return forwardTo(impl_, &DriverImpl::getEncoderDataFilter, filter);
}

ret_status_t Driver::setStartupConfigs(bool index_search, bool encoder_matching, bool closed_loop) {
    return forwardTo(impl_, &DriverImpl::setStartupConfigs, index_search, encoder_matching, closed_loop);
}

ret_status_t Driver::getStartupConfigs(bool* index_search, bool* encoder_matching, bool* closed_loop) {
    return forwardTo(impl_, &DriverImpl::getStartupConfigs, index_search, encoder_matching, closed_loop);
}

ret_status_t Driver::setMotorPhaseParameters(float resistance, float inductance) {
    return forwardTo(impl_, &DriverImpl::setMotorPhaseParameters, resistance, inductance);
}

ret_status_t Driver::getMotorPhaseParameters(float* resistance, float* inductance) {
    return forwardTo(impl_, &DriverImpl::getMotorPhaseParameters, resistance, inductance);
}

ret_status_t Driver::setMotorTorqueLimit(float limit) {
    return forwardTo(impl_, &DriverImpl::setMotorTorqueLimit, limit);
}

ret_status_t Driver::getMotorTorqueLimit(float* limit) {
    return forwardTo(impl_, &DriverImpl::getMotorTorqueLimit, limit);
}

ret_status_t Driver::setMotorType(unsigned char type) { return forwardTo(impl_, &DriverImpl::setMotorType, type); }

ret_status_t Driver::getMotorType(unsigned char* type) { return forwardTo(impl_, &DriverImpl::getMotorType, type); }

ret_status_t Driver::setCANBaudRate(CANBaudRate rate) { return forwardTo(impl_, &DriverImpl::setCANBaudRate, rate); }

ret_status_t Driver::getCANBaudRate(CANBaudRate* rate) { return forwardTo(impl_, &DriverImpl::getCANBaudRate, rate); }

ret_status_t Driver::configureMotorEncoder(unsigned char type, int resolution, bool use_index) {
    return forwardTo(impl_, &DriverImpl::configureMotorEncoder, type, resolution, use_index);
}

ret_status_t Driver::getMotorEncoderConfiguration(unsigned char* type, int* resolution, bool* use_index) {
    return forwardTo(impl_, &DriverImpl::getMotorEncoderConfiguration, type, resolution, use_index);
}

ret_status_t Driver::configureOutputEncoder(unsigned char type, int resolution, bool use_index) {
    return forwardTo(impl_, &DriverImpl::configureOutputEncoder, type, resolution, use_index);
}

ret_status_t Driver::disableOutputEncoder() { return forwardTo(impl_, &DriverImpl::disableOutputEncoder); }

ret_status_t Driver::getOutputEncoderConfiguration(unsigned char* type, int* resolution, bool* use_index) {
    return forwardTo(impl_, &DriverImpl::getOutputEncoderConfiguration, type, resolution, use_index);
}

ret_status_t Driver::getMotorEncoderState(bool* a, bool* b, bool* c) {
    return forwardTo(impl_, &DriverImpl::getMotorEncoderState, a, b, c);
}

ret_status_t Driver::getOutputEncoderState(bool* a, bool* b) {
    return forwardTo(impl_, &DriverImpl::getOutputEncoderState, a, b);
}

ret_status_t Driver::getHallEncoderState(unsigned char* state) {
    return forwardTo(impl_, &DriverImpl::getHallEncoderState, state);
}

ret_status_t Driver::getHallEncoderStateCounts(unsigned short* c1, unsigned short* c2, unsigned short* c3,
                                               unsigned short* c4, unsigned short* c5, unsigned short* c6,
                                               unsigned short* c7, unsigned short* c8) {
    return forwardTo(impl_, &DriverImpl::getHallEncoderStateCounts, c1, c2, c3, c4, c5, c6, c7, c8);
}

ret_status_t Driver::getMAxxxSPIRegister(bool output, unsigned char reg, unsigned char* value, bool* flag) {
    return forwardTo(impl_, &DriverImpl::getMAxxxSPIRegister, output, reg, value, flag);
}

ret_status_t Driver::setMAxxxSPIRegister(bool output, unsigned char reg, unsigned char value) {
    return forwardTo(impl_, &DriverImpl::setMAxxxSPIRegister, output, reg, value);
}

ret_status_t Driver::getMAxxxBCTValue(bool output, unsigned char* value, bool* flag) {
    return forwardTo(impl_, &DriverImpl::getMAxxxBCTValue, output, value, flag);
}

ret_status_t Driver::setMAxxxBCTValue(bool output, unsigned char value) {
    return forwardTo(impl_, &DriverImpl::setMAxxxBCTValue, output, value);
}

ret_status_t Driver::getMAxxxFilterWindow(bool output, unsigned char* value, bool* flag) {
    return forwardTo(impl_, &DriverImpl::getMAxxxFilterWindow, output, value, flag);
}

ret_status_t Driver::setMAxxxFilterWindow(bool output, unsigned char value) {
    return forwardTo(impl_, &DriverImpl::setMAxxxFilterWindow, output, value);
}

ret_status_t Driver::getMAxxxTrimmingSettings(bool output, bool* first, bool* second, bool* flag) {
    return forwardTo(impl_, &DriverImpl::getMAxxxTrimmingSettings, output, first, second, flag);
}

ret_status_t Driver::setMAxxxTrimmingSettings(bool output, bool first, bool second) {
    return forwardTo(impl_, &DriverImpl::setMAxxxTrimmingSettings, output, first, second);
}

ret_status_t Driver::flash(std::string path, bool already_in_dfu) {
    return flash(std::move(path), already_in_dfu, kinetra::FlashOptions{});
}

ret_status_t Driver::flash(std::string path, bool already_in_dfu, const kinetra::FlashOptions& options) {
    if (impl_ == nullptr) return RET_NOT_INITIALISED;
    return impl_->flash(path, already_in_dfu, options);
}

kinetra::CycleProxy ControlCycle::proxyOf(Driver& driver) {
    return kinetra::cycleProxyOf(driver.impl_, kinetra::CycleClass::Driver);
}
