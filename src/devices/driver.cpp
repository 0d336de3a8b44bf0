#include <kinetra/driver.h>

#include "devices/device_traits.h"
#include "devices/motor_controller.h"

struct Driver::DriverImpl : kinetra::MotorController<kinetra::DriverTraits> {
    using kinetra::MotorController<kinetra::DriverTraits>::MotorController;
};

Driver::Driver(unsigned int node_id, Interface* iface) : impl_(nullptr), iface_(iface) {
    node_id_ = node_id;
    impl_ = new DriverImpl(node_id, iface);
    iface_->registerCANMsgCallback(this);
}

Driver::~Driver() {
    if (impl_ == nullptr) return;
    iface_->unregisterCANMsgCallback(this);
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

ret_status_t Driver::saveConfigurations() { return impl_ ? impl_->saveConfigurations() : RET_NOT_INITIALISED; }

ret_status_t Driver::eraseConfigurations() { return impl_ ? impl_->eraseConfigurations() : RET_NOT_INITIALISED; }

ret_status_t Driver::getNodeId(unsigned int* id) { return impl_ ? impl_->getNodeId(id) : RET_NOT_INITIALISED; }

ret_status_t Driver::getHardwareVersion(unsigned char* a, unsigned char* b, unsigned char* c, unsigned char* d) {
    return impl_ ? impl_->getHardwareVersion(a, b, c, d) : RET_NOT_INITIALISED;
}

ret_status_t Driver::getFirmwareVersion(unsigned char* major, unsigned char* minor, unsigned short* patch) {
    return impl_ ? impl_->getFirmwareVersion(major, minor, patch) : RET_NOT_INITIALISED;
}

ret_status_t Driver::getBusVoltage(float* voltage) { return impl_ ? impl_->getBusVoltage(voltage) : RET_NOT_INITIALISED; }

ret_status_t Driver::getBusCurrent(float* current) { return impl_ ? impl_->getBusCurrent(current) : RET_NOT_INITIALISED; }
