#include <kinetra/actuator.h>

#include <kinetra/control_cycle.h>

#include "devices/cycle_read.h"
#include "devices/operation_forwarding.h"

#include "devices/device_traits.h"
#include "devices/motor_controller.h"


// The actuator shares the driver's protocol; these are the replies it lays out
// its own way.
struct Actuator::ActuatorImpl : kinetra::MotorController<kinetra::ActuatorTraits> {
    using kinetra::MotorController<kinetra::ActuatorTraits>::MotorController;

    ret_status_t getMotorThermistorConfiguration(bool* enabled, unsigned short* b, unsigned short* c, unsigned char* d,
                                                 unsigned char* e) {
        return run<kinetra::protocol::motor::actuator_ops::getMotorThermistorConfiguration>(b, c, d, e, enabled);
    }
    /// The reply carries two flags; the actuator's state is the second.
    ret_status_t getOutputEncoderState(bool* b) {
        bool first = false;
        bool second = false;
        const ret_status_t status = run<kinetra::protocol::motor::actuator_ops::getOutputEncoderState>(&first, &second);
        if (status == RET_OK) *b = second;
        return status;
    }
};

Actuator::Actuator(unsigned int node_id, Interface* iface) : impl_(nullptr), iface_(iface) {
    node_id_ = node_id;
    impl_ = new ActuatorImpl(node_id, iface);
    // Without an interface the proxy only reports RET_NOT_INITIALISED.
    if (iface_ != nullptr) iface_->registerCANMsgCallback(this);
}

Actuator::~Actuator() {
    if (impl_ == nullptr) return;
    // An interface destroyed first has no registry left to leave.
    if (Interface* iface = impl_->iface()) iface->unregisterCANMsgCallback(this);
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

// The operations, from the class's lists in protocol/motor_operations.h.
KINETRA_MOTOR_SHARED_OPERATIONS(KINETRA_FORWARD_TO_ENTRY, KINETRA_FORWARD_TO_METHOD,
                                (Actuator, ActuatorImpl, kinetra::protocol::motor::shared_ops))
KINETRA_ACTUATOR_OPERATIONS(KINETRA_FORWARD_TO_ENTRY, KINETRA_FORWARD_TO_METHOD, (Actuator, ActuatorImpl, kinetra::protocol::motor::actuator_ops))

ret_status_t Actuator::flash(std::string path, bool already_in_dfu) {
    return flash(std::move(path), already_in_dfu, kinetra::FlashOptions{});
}

ret_status_t Actuator::flash(std::string path, bool already_in_dfu, const kinetra::FlashOptions& options) {
    if (impl_ == nullptr) return RET_NOT_INITIALISED;
    return impl_->flash(path, already_in_dfu, options);
}

kinetra::CycleProxy ControlCycle::proxyOf(Actuator& actuator) {
    return kinetra::cycleProxyOf(actuator.impl_, kinetra::CycleClass::Actuator);
}
