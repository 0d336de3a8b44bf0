#include <kinetra/driver.h>

#include <kinetra/control_cycle.h>

#include "devices/cycle_read.h"
#include "devices/operation_forwarding.h"

#include "devices/driver_impl.h"

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

// The operations, from the class's lists in protocol/motor_operations.h.
KINETRA_MOTOR_SHARED_OPERATIONS(KINETRA_FORWARD_TO_ENTRY, KINETRA_FORWARD_TO_METHOD,
                                (Driver, DriverImpl, kinetra::protocol::motor::shared_ops))
KINETRA_DRIVER_OPERATIONS(KINETRA_FORWARD_TO_ENTRY, KINETRA_FORWARD_TO_METHOD, (Driver, DriverImpl, kinetra::protocol::motor::driver_ops))

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
