#pragma once
/// @file encoder_node.h
/// The simulated magnetic rotary encoder (the Vorlex).

#include "kinetra_sim/encoder_model.h"
#include "kinetra_sim/node.h"

namespace kinetra::sim {

/// An encoder node: reports device type Encoder and answers by the encoder's
/// routing table. Its command set lives in encoder_node_commands.cpp, its
/// physics in EncoderModel.
class EncoderNode : public Node {
public:
    /// The versions a simulated encoder reports.
    static NodeIdentity defaultIdentity();

    explicit EncoderNode(const NodeSetup& setup);

    /// Runs `fn` on the encoder's model with the node's lock held.
    template <typename Fn>
    auto withModel(Fn&& fn) {
        return withState([&] { return fn(model_); });
    }
    /// Turns the shaft at `degrees_per_second` from now on.
    void setShaftRate(double degrees_per_second);

protected:
    void onTick(std::chrono::nanoseconds elapsed) override;
    void onSave() override;
    void onErase() override;
    void onReboot() override;

private:
    void installCommandSet();

    EncoderModel model_;
};

}  // namespace kinetra::sim
