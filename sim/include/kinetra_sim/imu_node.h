#pragma once
/// @file imu_node.h
/// The simulated inertial measurement unit.

#include "kinetra_sim/node.h"

namespace kinetra::sim {

/// An IMU node: reports device type Imu and answers by the IMU's routing table.
/// Its command set and orientation model live in imu_node.cpp.
class ImuNode : public Node {
public:
    /// The versions a simulated IMU reports.
    static NodeIdentity defaultIdentity();

    explicit ImuNode(const NodeSpec& spec);
};

}  // namespace kinetra::sim
