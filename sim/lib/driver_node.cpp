#include "kinetra_sim/driver_node.h"

#include "can/bus.h"
#include "devices/protocol/motor_controller_protocol.h"

#include <tuple>

namespace kinetra::sim {

namespace motor = protocol::motor;

NodeIdentity DriverNode::defaultIdentity() { return NodeIdentity{{1, 3, 0, 0}, 2, 4, 17, "a3f9c2e1"}; }

DriverNode::DriverNode(const NodeSetup& setup)
    : MotorControllerNode(setup, protocol::DeviceType::Driver, motor::kDriverRoutes, defaultIdentity()) {
}

void DriverNode::setBus(float voltage, float current) {
    withFirmware([&](MotorFirmware& firmware) { firmware.setSupply(voltage, current); });
}

}  // namespace kinetra::sim
