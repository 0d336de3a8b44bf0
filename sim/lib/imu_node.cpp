#include "kinetra_sim/imu_node.h"

#include "can/bus.h"
#include "devices/protocol/imu_protocol.h"

namespace kinetra::sim {

NodeIdentity ImuNode::defaultIdentity() { return NodeIdentity{{1, 0, 2, 0}, 1, 2, 5, "c0ffee42"}; }

ImuNode::ImuNode(const NodeSetup& setup)
    : Node(setup, protocol::DeviceType::Imu, protocol::imu::kImuRoutes, defaultIdentity()) {
    installCommandSet();
}

}  // namespace kinetra::sim
