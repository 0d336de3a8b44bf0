#pragma once
/// @file encoder_node.h
/// The simulated magnetic rotary encoder (the Vorlex).

#include "kinetra_sim/node.h"

namespace kinetra::sim {

/// An encoder node: reports device type Encoder and answers by the encoder's
/// routing table. Its command set and shaft model live in encoder_node.cpp.
class EncoderNode : public Node {
public:
    /// The versions a simulated encoder reports.
    static NodeIdentity defaultIdentity();

    explicit EncoderNode(const NodeSpec& spec);
};

}  // namespace kinetra::sim
