#pragma once
/// @file imu_node.h
/// The simulated inertial measurement unit.

#include "kinetra_sim/imu_model.h"
#include "kinetra_sim/node.h"

namespace kinetra::sim {

/// An IMU node: reports device type Imu and answers by the IMU's routing table.
/// Its command set lives in imu_node_commands.cpp, its physics in ImuModel.
class ImuNode : public Node {
public:
    /// The versions a simulated IMU reports.
    static NodeIdentity defaultIdentity();

    explicit ImuNode(const NodeSetup& setup);

    /// Runs `fn` on the unit's model with the node's lock held.
    template <typename Fn>
    auto withModel(Fn&& fn) {
        return withState([&] { return fn(model_); });
    }

protected:
    bool answersQuery(uint8_t command) override;
    void onTick(std::chrono::nanoseconds elapsed) override;
    void onSave() override;
    void onErase() override;
    void onReboot() override;

private:
    void installCommandSet();

    ImuModel model_;
};

}  // namespace kinetra::sim
