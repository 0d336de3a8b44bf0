#pragma once
/// @file actuator_node.h
/// The simulated actuator.

#include "kinetra_sim/motor_controller_node.h"

namespace kinetra::sim {

/// An actuator node: reports device type Actuator and answers by the actuator's
/// routing table. Its command set and motor model live in actuator_node.cpp.
class ActuatorNode : public MotorControllerNode {
public:
    /// The versions a simulated actuator reports.
    static NodeIdentity defaultIdentity();

    explicit ActuatorNode(const NodeSpec& spec);

    /// The DC bus the actuator measures.
    void setBus(float voltage, float current);

private:
    float bus_voltage_ = 48.0f;
    float bus_current_ = 0.0f;
};

}  // namespace kinetra::sim
