#include <kinetra/vorlex.h>

#include "devices/protocol/vorlex_protocol.h"
#include "devices/vorlex_impl.h"

namespace {
namespace vorlex = kinetra::protocol::vorlex;
}  // namespace

Vorlex::Vorlex(unsigned int node_id, Interface* iface) : impl_(nullptr), iface_(iface) {
    node_id_ = node_id;
    impl_ = new VorlexImpl(node_id, iface);
    // Without an interface the proxy only reports RET_NOT_INITIALISED.
    if (iface_ != nullptr) iface_->registerCANMsgCallback(this);
}

Vorlex::~Vorlex() {
    if (impl_ == nullptr) return;
    // An interface destroyed first has no registry left to leave.
    if (Interface* iface = impl_->iface()) iface->unregisterCANMsgCallback(this);
    delete impl_;
    impl_ = nullptr;
}

void Vorlex::canMsgCallback(can_frame_data* frame) {
    if (impl_ != nullptr) impl_->handleFrame(frame);
}

bool Vorlex::isConnected() { return impl_ != nullptr && impl_->isConnected(); }

void Vorlex::setOutputLogStream(std::ostream* stream) {
    if (impl_ != nullptr) impl_->setOutputLogStream(stream);
}

// Position.

ret_status_t Vorlex::getAbsoluteAngle(float* angle) {
    return kinetra::forwardTo(impl_, &VorlexImpl::readFloat<vorlex::kGetAbsoluteAngle>, angle);
}
ret_status_t Vorlex::getMultiturnAngle(float* angle) {
    return kinetra::forwardTo(impl_, &VorlexImpl::readFloat<vorlex::kGetMultiturnAngle>, angle);
}
ret_status_t Vorlex::getEncoderCount(int* count) { return kinetra::forwardTo(impl_, &VorlexImpl::getEncoderCount, count); }
ret_status_t Vorlex::getEncoderRawData(unsigned int* raw) {
    return kinetra::forwardTo(impl_, &VorlexImpl::getEncoderRawData, raw);
}
ret_status_t Vorlex::getZeroPosition(float* position) {
    return kinetra::forwardTo(impl_, &VorlexImpl::readFloat<vorlex::kGetZeroPosition>, position);
}
ret_status_t Vorlex::setCurrentPositionToZero() {
    return kinetra::forwardTo(impl_, &VorlexImpl::setCurrentPositionToZero);
}

// Motion.

ret_status_t Vorlex::getRawVelocity(float* velocity) {
    return kinetra::forwardTo(impl_, &VorlexImpl::readFloat<vorlex::kGetRawVelocity>, velocity);
}
ret_status_t Vorlex::getScaledVelocity(float* velocity) {
    return kinetra::forwardTo(impl_, &VorlexImpl::readFloat<vorlex::kGetScaledVelocity>, velocity);
}
ret_status_t Vorlex::getFilteredVelocity(float* velocity) {
    return kinetra::forwardTo(impl_, &VorlexImpl::readFloat<vorlex::kGetFilteredVelocity>, velocity);
}
ret_status_t Vorlex::getScaledFilteredVelocity(float* velocity) {
    return kinetra::forwardTo(impl_, &VorlexImpl::readFloat<vorlex::kGetScaledFilteredVelocity>, velocity);
}
ret_status_t Vorlex::getRawAcceleration(float* acceleration) {
    return kinetra::forwardTo(impl_, &VorlexImpl::readFloat<vorlex::kGetRawAcceleration>, acceleration);
}
ret_status_t Vorlex::getScaledAcceleration(float* acceleration) {
    return kinetra::forwardTo(impl_, &VorlexImpl::readFloat<vorlex::kGetScaledAcceleration>, acceleration);
}
ret_status_t Vorlex::getFilteredAcceleration(float* acceleration) {
    return kinetra::forwardTo(impl_, &VorlexImpl::readFloat<vorlex::kGetFilteredAcceleration>, acceleration);
}
ret_status_t Vorlex::getScaledFilteredAcceleration(float* acceleration) {
    return kinetra::forwardTo(impl_, &VorlexImpl::readFloat<vorlex::kGetScaledFilteredAcceleration>, acceleration);
}

// Configuration.

ret_status_t Vorlex::configureEncoder(unsigned char type, int resolution) {
    return kinetra::forwardTo(impl_, &VorlexImpl::configureEncoder, type, resolution);
}
ret_status_t Vorlex::getEncoderConfiguration(unsigned char* type, int* resolution) {
    return kinetra::forwardTo(impl_, &VorlexImpl::getEncoderConfiguration, type, resolution);
}
ret_status_t Vorlex::setEncoderDirection(unsigned char direction) {
    return kinetra::forwardTo(impl_, &VorlexImpl::setEncoderDirection, direction);
}
ret_status_t Vorlex::getEncoderDirection(unsigned char* direction) {
    return kinetra::forwardTo(impl_, &VorlexImpl::getEncoderDirection, direction);
}
ret_status_t Vorlex::setScalingFactor(float factor) {
    return kinetra::forwardTo(impl_, &VorlexImpl::setScalingFactor, factor);
}
ret_status_t Vorlex::getScalingFactor(float* factor) {
    return kinetra::forwardTo(impl_, &VorlexImpl::readFloat<vorlex::kGetScalingFactor>, factor);
}
ret_status_t Vorlex::setFilterWindowLength(unsigned int length) {
    return kinetra::forwardTo(impl_, &VorlexImpl::setFilterWindowLength, length);
}
ret_status_t Vorlex::getFilterWindowLength(unsigned int* length) {
    return kinetra::forwardTo(impl_, &VorlexImpl::getFilterWindowLength, length);
}
ret_status_t Vorlex::setLinearCount(unsigned int count) {
    return kinetra::forwardTo(impl_, &VorlexImpl::setLinearCount, count);
}

// Sensor chip registers.

ret_status_t Vorlex::setMAxxxSPIRegister(unsigned char address, unsigned char value) {
    return kinetra::forwardTo(impl_, &VorlexImpl::setMAxxxSPIRegister, address, value);
}
ret_status_t Vorlex::getMAxxxSPIRegister(unsigned char address, unsigned char* value, bool* flag) {
    return kinetra::forwardTo(impl_, &VorlexImpl::getMAxxxSPIRegister, address, value, flag);
}

// Bus and errors.

ret_status_t Vorlex::setCANBaudRate(CANBaudRate rate) {
    return kinetra::forwardTo(impl_, &VorlexImpl::setCANBaudRate, rate);
}
ret_status_t Vorlex::getCANBaudRate(CANBaudRate* rate) {
    return kinetra::forwardTo(impl_, &VorlexImpl::getCANBaudRate, rate);
}
ret_status_t Vorlex::getErrorCode(unsigned int* code) { return kinetra::forwardTo(impl_, &VorlexImpl::getErrorCode, code); }
ret_status_t Vorlex::clearEncoderErrors() { return kinetra::forwardTo(impl_, &VorlexImpl::clearEncoderErrors); }

// Maintenance.

ret_status_t Vorlex::saveConfigurations() { return kinetra::forwardTo(impl_, &VorlexImpl::saveConfigurations); }
ret_status_t Vorlex::eraseConfigurations() { return kinetra::forwardTo(impl_, &VorlexImpl::eraseConfigurations); }
ret_status_t Vorlex::getNodeId(unsigned int* id) { return kinetra::forwardTo(impl_, &VorlexImpl::getNodeId, id); }
ret_status_t Vorlex::setNodeId(unsigned int id) { return kinetra::forwardTo(impl_, &VorlexImpl::setNodeId, id); }
ret_status_t Vorlex::rebootVorlex() { return kinetra::forwardTo(impl_, &VorlexImpl::reboot); }
ret_status_t Vorlex::enterDFUMode() { return kinetra::forwardTo(impl_, &VorlexImpl::enterDFUMode); }
ret_status_t Vorlex::getHardwareVersion(unsigned char* a, unsigned char* b, unsigned char* c, unsigned char* d) {
    return kinetra::forwardTo(impl_, &VorlexImpl::getHardwareVersion, a, b, c, d);
}
ret_status_t Vorlex::getFirmwareVersion(unsigned char* major, unsigned char* minor, unsigned short* patch) {
    return kinetra::forwardTo(impl_, &VorlexImpl::getFirmwareVersion, major, minor, patch);
}
ret_status_t Vorlex::getFirmwareCommit(std::string* commit) {
    return kinetra::forwardTo(impl_, &VorlexImpl::getFirmwareCommit, commit);
}
