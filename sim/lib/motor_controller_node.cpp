#include "kinetra_sim/motor_controller_node.h"

#include "devices/protocol/payload.h"

namespace kinetra::sim {

MotorControllerNode::MotorControllerNode(const NodeSetup& setup, protocol::DeviceType type,
                                         const protocol::RouteTable& routes, NodeIdentity identity)
    : Node(setup, type, routes, std::move(identity)) {
    installCommandSet();
    installBootloader();
}

void MotorControllerNode::setHeartbeatStatus(const HeartbeatStatus& status) {
    withState([&] { status_ = status; });
}

HeartbeatStatus MotorControllerNode::heartbeatStatus() {
    return withState([&] { return status_; });
}

void MotorControllerNode::fillHeartbeat(can_frame_data& frame) {
    protocol::PayloadWriter(frame).put(status_.word).put(status_.byte4).put(status_.byte5);
}

}  // namespace kinetra::sim
