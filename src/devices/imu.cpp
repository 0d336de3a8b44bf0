#include <kinetra/imu.h>

#include "devices/device_traits.h"
#include "devices/device_core.h"

struct IMU::IMUImpl : kinetra::DeviceCore<kinetra::ImuTraits> {
    using kinetra::DeviceCore<kinetra::ImuTraits>::DeviceCore;
};

IMU::IMU(unsigned int node_id, Interface* iface) : impl_(nullptr), iface_(iface) {
    node_id_ = node_id;
    impl_ = new IMUImpl(node_id, iface);
    iface_->registerCANMsgCallback(this);
}

IMU::~IMU() {
    if (impl_ == nullptr) return;
    iface_->unregisterCANMsgCallback(this);
    delete impl_;
    impl_ = nullptr;
}

void IMU::canMsgCallback(can_frame_data* frame) {
    if (impl_ != nullptr) impl_->handleFrame(frame);
}

bool IMU::isConnected() { return impl_ != nullptr && impl_->isConnected(); }

void IMU::setOutputLogStream(std::ostream* stream) {
    if (impl_ != nullptr) impl_->setOutputLogStream(stream);
}

ret_status_t IMU::saveConfigurations() { return impl_ ? impl_->saveConfigurations() : RET_NOT_INITIALISED; }

ret_status_t IMU::eraseConfigurations() { return impl_ ? impl_->eraseConfigurations() : RET_NOT_INITIALISED; }

ret_status_t IMU::getNodeId(unsigned int* id) { return impl_ ? impl_->getNodeId(id) : RET_NOT_INITIALISED; }

ret_status_t IMU::getHardwareVersion(unsigned char* a, unsigned char* b, unsigned char* c, unsigned char* d) {
    return impl_ ? impl_->getHardwareVersion(a, b, c, d) : RET_NOT_INITIALISED;
}

ret_status_t IMU::getFirmwareVersion(unsigned char* major, unsigned char* minor, unsigned short* patch) {
    return impl_ ? impl_->getFirmwareVersion(major, minor, patch) : RET_NOT_INITIALISED;
}
