#include "kinetra_sim/node_factory.h"

#include "kinetra_sim/actuator_node.h"
#include "kinetra_sim/driver_node.h"
#include "kinetra_sim/encoder_node.h"
#include "kinetra_sim/imu_node.h"

namespace kinetra::sim {

const char* nodeKindName(NodeKind kind) {
    switch (kind) {
        case NodeKind::Driver: return "driver";
        case NodeKind::Actuator: return "actuator";
        case NodeKind::Imu: return "imu";
        case NodeKind::Encoder: return "encoder";
    }
    return "unknown";
}

std::unique_ptr<Node> makeNode(const NodeSetup& setup) {
    switch (setup.kind) {
        case NodeKind::Driver: return std::make_unique<DriverNode>(setup);
        case NodeKind::Actuator: return std::make_unique<ActuatorNode>(setup);
        case NodeKind::Imu: return std::make_unique<ImuNode>(setup);
        case NodeKind::Encoder: return std::make_unique<EncoderNode>(setup);
    }
    throw std::invalid_argument("unknown node kind");
}

}  // namespace kinetra::sim
