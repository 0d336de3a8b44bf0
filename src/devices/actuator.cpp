#include <kinetra/actuator.h>

#include "devices/device_traits.h"
#include "devices/motor_controller.h"

struct Actuator::ActuatorImpl : kinetra::MotorController<kinetra::ActuatorTraits> {
    using kinetra::MotorController<kinetra::ActuatorTraits>::MotorController;
};

Actuator::Actuator(unsigned int node_id, Interface* iface) : impl_(nullptr), iface_(iface) {
    node_id_ = node_id;
    impl_ = new ActuatorImpl(node_id, iface);
    iface_->registerCANMsgCallback(this);
}

Actuator::~Actuator() {
    if (impl_ == nullptr) return;
    iface_->unregisterCANMsgCallback(this);
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

ret_status_t Actuator::saveConfigurations() { return impl_ ? impl_->saveConfigurations() : RET_NOT_INITIALISED; }

ret_status_t Actuator::eraseConfigurations() { return impl_ ? impl_->eraseConfigurations() : RET_NOT_INITIALISED; }

ret_status_t Actuator::getNodeId(unsigned int* id) { return impl_ ? impl_->getNodeId(id) : RET_NOT_INITIALISED; }

ret_status_t Actuator::getHardwareVersion(unsigned char* a, unsigned char* b, unsigned char* c, unsigned char* d) {
    return impl_ ? impl_->getHardwareVersion(a, b, c, d) : RET_NOT_INITIALISED;
}

ret_status_t Actuator::getFirmwareVersion(unsigned char* major, unsigned char* minor, unsigned short* patch) {
    return impl_ ? impl_->getFirmwareVersion(major, minor, patch) : RET_NOT_INITIALISED;
}

ret_status_t Actuator::getBusVoltage(float* voltage) { return impl_ ? impl_->getBusVoltage(voltage) : RET_NOT_INITIALISED; }

ret_status_t Actuator::getBusCurrent(float* current) { return impl_ ? impl_->getBusCurrent(current) : RET_NOT_INITIALISED; }
