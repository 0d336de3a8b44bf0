#include <kinetra/vorlex.h>

#include "devices/protocol/vorlex_protocol.h"
#include "devices/vorlex_impl.h"

namespace {
namespace vorlex = kinetra::protocol::vorlex;
}  // namespace

Vorlex::Vorlex(unsigned int node_id, Interface* iface) : impl_(nullptr), iface_(iface) {
    node_id_ = node_id;
    impl_ = new VorlexImpl(node_id, iface);
    iface_->registerCANMsgCallback(this);
}

Vorlex::~Vorlex() {
    if (impl_ == nullptr) return;
    iface_->unregisterCANMsgCallback(this);
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
    return impl_ ? impl_->readFloat<vorlex::kGetAbsoluteAngle>(angle) : RET_NOT_INITIALISED;
}
ret_status_t Vorlex::getMultiturnAngle(float* angle) {
    return impl_ ? impl_->readFloat<vorlex::kGetMultiturnAngle>(angle) : RET_NOT_INITIALISED;
}
ret_status_t Vorlex::getEncoderCount(int* count) { return impl_ ? impl_->getEncoderCount(count) : RET_NOT_INITIALISED; }
ret_status_t Vorlex::getEncoderRawData(unsigned int* raw) {
    return impl_ ? impl_->getEncoderRawData(raw) : RET_NOT_INITIALISED;
}
ret_status_t Vorlex::getZeroPosition(float* position) {
    return impl_ ? impl_->readFloat<vorlex::kGetZeroPosition>(position) : RET_NOT_INITIALISED;
}
ret_status_t Vorlex::setCurrentPositionToZero() {
    return impl_ ? impl_->setCurrentPositionToZero() : RET_NOT_INITIALISED;
}

// Motion.

ret_status_t Vorlex::getRawVelocity(float* velocity) {
    return impl_ ? impl_->readFloat<vorlex::kGetRawVelocity>(velocity) : RET_NOT_INITIALISED;
}
ret_status_t Vorlex::getScaledVelocity(float* velocity) {
    return impl_ ? impl_->readFloat<vorlex::kGetScaledVelocity>(velocity) : RET_NOT_INITIALISED;
}
ret_status_t Vorlex::getFilteredVelocity(float* velocity) {
    return impl_ ? impl_->readFloat<vorlex::kGetFilteredVelocity>(velocity) : RET_NOT_INITIALISED;
}
ret_status_t Vorlex::getScaledFilteredVelocity(float* velocity) {
    return impl_ ? impl_->readFloat<vorlex::kGetScaledFilteredVelocity>(velocity) : RET_NOT_INITIALISED;
}
ret_status_t Vorlex::getRawAcceleration(float* acceleration) {
    return impl_ ? impl_->readFloat<vorlex::kGetRawAcceleration>(acceleration) : RET_NOT_INITIALISED;
}
ret_status_t Vorlex::getScaledAcceleration(float* acceleration) {
    return impl_ ? impl_->readFloat<vorlex::kGetScaledAcceleration>(acceleration) : RET_NOT_INITIALISED;
}
ret_status_t Vorlex::getFilteredAcceleration(float* acceleration) {
    return impl_ ? impl_->readFloat<vorlex::kGetFilteredAcceleration>(acceleration) : RET_NOT_INITIALISED;
}
ret_status_t Vorlex::getScaledFilteredAcceleration(float* acceleration) {
    return impl_ ? impl_->readFloat<vorlex::kGetScaledFilteredAcceleration>(acceleration) : RET_NOT_INITIALISED;
}

// Configuration.

ret_status_t Vorlex::configureEncoder(unsigned char type, int resolution) {
    return impl_ ? impl_->configureEncoder(type, resolution) : RET_NOT_INITIALISED;
}
ret_status_t Vorlex::getEncoderConfiguration(unsigned char* type, int* resolution) {
    return impl_ ? impl_->getEncoderConfiguration(type, resolution) : RET_NOT_INITIALISED;
}
ret_status_t Vorlex::setEncoderDirection(unsigned char direction) {
    return impl_ ? impl_->setEncoderDirection(direction) : RET_NOT_INITIALISED;
}
ret_status_t Vorlex::getEncoderDirection(unsigned char* direction) {
    return impl_ ? impl_->getEncoderDirection(direction) : RET_NOT_INITIALISED;
}
ret_status_t Vorlex::setScalingFactor(float factor) {
    return impl_ ? impl_->setScalingFactor(factor) : RET_NOT_INITIALISED;
}
ret_status_t Vorlex::getScalingFactor(float* factor) {
    return impl_ ? impl_->readFloat<vorlex::kGetScalingFactor>(factor) : RET_NOT_INITIALISED;
}
ret_status_t Vorlex::setFilterWindowLength(unsigned int length) {
    return impl_ ? impl_->setFilterWindowLength(length) : RET_NOT_INITIALISED;
}
ret_status_t Vorlex::getFilterWindowLength(unsigned int* length) {
    return impl_ ? impl_->getFilterWindowLength(length) : RET_NOT_INITIALISED;
}
ret_status_t Vorlex::setLinearCount(unsigned int count) {
    return impl_ ? impl_->setLinearCount(count) : RET_NOT_INITIALISED;
}

// Sensor chip registers.

ret_status_t Vorlex::setMAxxxSPIRegister(unsigned char address, unsigned char value) {
    return impl_ ? impl_->setMAxxxSPIRegister(address, value) : RET_NOT_INITIALISED;
}
ret_status_t Vorlex::getMAxxxSPIRegister(unsigned char address, unsigned char* value, bool* flag) {
    return impl_ ? impl_->getMAxxxSPIRegister(address, value, flag) : RET_NOT_INITIALISED;
}

// Bus and errors.

ret_status_t Vorlex::setCANBaudRate(CANBaudRate rate) {
    return impl_ ? impl_->setCANBaudRate(rate) : RET_NOT_INITIALISED;
}
ret_status_t Vorlex::getCANBaudRate(CANBaudRate* rate) {
    return impl_ ? impl_->getCANBaudRate(rate) : RET_NOT_INITIALISED;
}
ret_status_t Vorlex::getErrorCode(unsigned int* code) { return impl_ ? impl_->getErrorCode(code) : RET_NOT_INITIALISED; }
ret_status_t Vorlex::clearEncoderErrors() { return impl_ ? impl_->clearEncoderErrors() : RET_NOT_INITIALISED; }

// Maintenance.

ret_status_t Vorlex::saveConfigurations() { return impl_ ? impl_->saveConfigurations() : RET_NOT_INITIALISED; }
ret_status_t Vorlex::eraseConfigurations() { return impl_ ? impl_->eraseConfigurations() : RET_NOT_INITIALISED; }
ret_status_t Vorlex::getNodeId(unsigned int* id) { return impl_ ? impl_->getNodeId(id) : RET_NOT_INITIALISED; }
ret_status_t Vorlex::setNodeId(unsigned int id) { return impl_ ? impl_->setNodeId(id) : RET_NOT_INITIALISED; }
ret_status_t Vorlex::rebootVorlex() { return impl_ ? impl_->reboot() : RET_NOT_INITIALISED; }
ret_status_t Vorlex::enterDFUMode() { return impl_ ? impl_->enterDFUMode() : RET_NOT_INITIALISED; }
ret_status_t Vorlex::getHardwareVersion(unsigned char* a, unsigned char* b, unsigned char* c, unsigned char* d) {
    return impl_ ? impl_->getHardwareVersion(a, b, c, d) : RET_NOT_INITIALISED;
}
ret_status_t Vorlex::getFirmwareVersion(unsigned char* major, unsigned char* minor, unsigned short* patch) {
    return impl_ ? impl_->getFirmwareVersion(major, minor, patch) : RET_NOT_INITIALISED;
}
ret_status_t Vorlex::getFirmwareCommit(std::string* commit) {
    return impl_ ? impl_->getFirmwareCommit(commit) : RET_NOT_INITIALISED;
}
