#pragma once
/// @file driver_node.h
/// The simulated motor driver.

#include "kinetra_sim/motor_controller_node.h"

namespace kinetra::sim {

/// A motor driver node: reports device type Driver and answers by the driver's
/// routing table. Its command set lives in motor_controller_commands.cpp, its motor in MotorModel.
class DriverNode : public MotorControllerNode {
public:
    /// The versions a simulated driver reports.
    static NodeIdentity defaultIdentity();

    explicit DriverNode(const NodeSetup& setup);

    /// The supply: the bus voltage and the current the electronics draw; the
    /// motor's own current adds to the latter.
    void setBus(float voltage, float current);
};

}  // namespace kinetra::sim
