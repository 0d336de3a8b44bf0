#pragma once
/// @file motor_controller_node.h
/// What the simulated drivers and actuators share: the status their heartbeats carry.

#include "kinetra_sim/node.h"

#include <cstdint>

namespace kinetra::sim {

/// The status a motor controller's heartbeat carries: a 32-bit word in payload
/// bits 0-31 and two bytes at payload bytes 4 and 5.
struct HeartbeatStatus {
    uint32_t word = 0;
    uint8_t byte4 = 0;
    uint8_t byte5 = 0;
};

/// Base of DriverNode and ActuatorNode.
class MotorControllerNode : public Node {
public:
    /// The status the next heartbeats carry.
    void setHeartbeatStatus(const HeartbeatStatus& status);
    HeartbeatStatus heartbeatStatus();

protected:
    MotorControllerNode(const NodeSpec& spec, protocol::DeviceType type, const protocol::RouteTable& routes,
                        NodeIdentity identity);
    void fillHeartbeat(can_frame_data& frame) override;

    /// The heartbeat status, for handlers and physics (lock held).
    HeartbeatStatus& status() { return status_; }

private:
    HeartbeatStatus status_;
};

}  // namespace kinetra::sim
