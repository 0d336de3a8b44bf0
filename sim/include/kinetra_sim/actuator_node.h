#pragma once
/// @file actuator_node.h
/// The simulated actuator.

#include "kinetra_sim/motor_controller_node.h"

namespace kinetra::sim {

/// An actuator node: reports device type Actuator and answers by the actuator's
/// routing table. Its command set lives in motor_controller_commands.cpp, its motor in MotorModel.
class ActuatorNode : public MotorControllerNode {
public:
    /// The versions a simulated actuator reports.
    static NodeIdentity defaultIdentity();

    explicit ActuatorNode(const NodeSetup& setup);

    /// The supply: the bus voltage and the current the electronics draw; the
    /// motor's own current adds to the latter.
    void setBus(float voltage, float current);
};

}  // namespace kinetra::sim
