#pragma once
/// @file driver_node.h
/// The simulated motor driver.

#include "kinetra_sim/motor_controller_node.h"

namespace kinetra::sim {

/// A motor driver node: reports device type Driver and answers by the driver's
/// routing table. Its command set and motor model live in driver_node.cpp.
class DriverNode : public MotorControllerNode {
public:
    /// The versions a simulated driver reports.
    static NodeIdentity defaultIdentity();

    explicit DriverNode(const NodeSpec& spec);

    /// The DC bus the driver measures.
    void setBus(float voltage, float current);

private:
    float bus_voltage_ = 24.0f;
    float bus_current_ = 0.0f;
};

}  // namespace kinetra::sim
