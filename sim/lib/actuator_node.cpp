#include "kinetra_sim/actuator_node.h"

#include "can/bus.h"
#include "devices/protocol/motor_controller_protocol.h"

#include <tuple>

namespace kinetra::sim {

namespace motor = protocol::motor;

NodeIdentity ActuatorNode::defaultIdentity() { return NodeIdentity{{1, 1, 0, 0}, 2, 4, 17, "b7e40d92"}; }

ActuatorNode::ActuatorNode(const NodeSetup& setup)
    : MotorControllerNode(setup, protocol::DeviceType::Actuator, motor::kActuatorRoutes, defaultIdentity()) {
}

void ActuatorNode::setBus(float voltage, float current) {
    withFirmware([&](MotorFirmware& firmware) { firmware.setSupply(voltage, current); });
}

}  // namespace kinetra::sim
