#include "kinetra_sim/encoder_node.h"
#include "kinetra_sim/offaxis_sensor.h"

#include "can/bus.h"
#include "devices/protocol/vorlex_protocol.h"

namespace kinetra::sim {

NodeIdentity EncoderNode::defaultIdentity() { return NodeIdentity{{1, 0, 1, 0}, 1, 1, 8, "e1c0de77"}; }

EncoderNode::EncoderNode(const NodeSetup& setup)
    : Node(setup, protocol::DeviceType::Encoder, protocol::vorlex::kVorlexRoutes, defaultIdentity()) {
    // Its chip errs like one whose magnet sits slightly off the axis.
    model_.setAngleError(offAxisError);
    installCommandSet();
}

}  // namespace kinetra::sim
