#include <kinetra/vorlex.h>

#include "devices/operation_forwarding.h"
#include "devices/vorlex_impl.h"

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

// The operations, from the encoder's list in protocol/vorlex_operations.h.
KINETRA_VORLEX_OPERATIONS(KINETRA_FORWARD_TO_ENTRY, KINETRA_FORWARD_TO_METHOD,
                          (Vorlex, VorlexImpl, kinetra::protocol::vorlex::vorlex_ops))
KINETRA_SENSOR_COMMON_OPERATIONS(KINETRA_FORWARD_TO_ENTRY, KINETRA_FORWARD_TO_METHOD,
                                 (Vorlex, VorlexImpl, kinetra::protocol::sensor_ops))
