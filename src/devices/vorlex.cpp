#include <kinetra/vorlex.h>

#include "devices/device_traits.h"
#include "devices/device_core.h"

struct Vorlex::VorlexImpl : kinetra::DeviceCore<kinetra::VorlexTraits> {
    using kinetra::DeviceCore<kinetra::VorlexTraits>::DeviceCore;
};

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

ret_status_t Vorlex::saveConfigurations() { return impl_ ? impl_->saveConfigurations() : RET_NOT_INITIALISED; }

ret_status_t Vorlex::eraseConfigurations() { return impl_ ? impl_->eraseConfigurations() : RET_NOT_INITIALISED; }

ret_status_t Vorlex::getNodeId(unsigned int* id) { return impl_ ? impl_->getNodeId(id) : RET_NOT_INITIALISED; }

ret_status_t Vorlex::getHardwareVersion(unsigned char* a, unsigned char* b, unsigned char* c, unsigned char* d) {
    return impl_ ? impl_->getHardwareVersion(a, b, c, d) : RET_NOT_INITIALISED;
}

ret_status_t Vorlex::getFirmwareVersion(unsigned char* major, unsigned char* minor, unsigned short* patch) {
    return impl_ ? impl_->getFirmwareVersion(major, minor, patch) : RET_NOT_INITIALISED;
}
