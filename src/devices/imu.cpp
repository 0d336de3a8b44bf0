#include <kinetra/imu.h>

#include "devices/imu_impl.h"
#include "devices/operation_forwarding.h"

IMU::IMU(unsigned int node_id, Interface* iface) : impl_(nullptr), iface_(iface) {
    node_id_ = node_id;
    impl_ = new IMUImpl(node_id, iface);
    // Without an interface the proxy only reports RET_NOT_INITIALISED.
    if (iface_ != nullptr) iface_->registerCANMsgCallback(this);
}

IMU::~IMU() {
    if (impl_ == nullptr) return;
    // An interface destroyed first has no registry left to leave.
    if (Interface* iface = impl_->iface()) iface->unregisterCANMsgCallback(this);
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

// The operations, from the IMU's list in protocol/imu_operations.h.
KINETRA_IMU_OPERATIONS(KINETRA_FORWARD_TO_ENTRY, KINETRA_FORWARD_TO_METHOD,
                       (IMU, IMUImpl, kinetra::protocol::imu::imu_ops))
KINETRA_SENSOR_COMMON_OPERATIONS(KINETRA_FORWARD_TO_ENTRY, KINETRA_FORWARD_TO_METHOD,
                                 (IMU, IMUImpl, kinetra::protocol::sensor_ops))
