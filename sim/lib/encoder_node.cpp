#include "kinetra_sim/encoder_node.h"

#include "devices/protocol/vorlex_protocol.h"

namespace kinetra::sim {

NodeIdentity EncoderNode::defaultIdentity() { return NodeIdentity{{1, 0, 1, 0}, 1, 1, 8, "e1c0de77"}; }

EncoderNode::EncoderNode(const NodeSetup& setup)
    : Node(setup, protocol::DeviceType::Encoder, protocol::vorlex::kVorlexRoutes, defaultIdentity()) {
    installCommandSet();
}

}  // namespace kinetra::sim
