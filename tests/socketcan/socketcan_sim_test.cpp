// The simulator on a virtual CAN interface, driven through SocketCANInterface as
// an application on a robot's CAN port would be. Needs a kernel with CAN support
// and vcan0 (or KINETRA_TEST_VCAN): the virtual machine test stage has both.

#include "kinetra_sim/actuator_node.h"
#include "kinetra_sim/driver_node.h"
#include "kinetra_sim/imu_node.h"
#include "kinetra_sim/simulator.h"

#include <kinetra/actuator.h>
#include <kinetra/driver.h>
#include <kinetra/imu.h>
#include <kinetra/socketcan_interface.h>
#include <kinetra/vorlex.h>

#include "socketcan/link_control.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <string>
#include <system_error>

namespace kinetra::sim {
namespace {

using namespace std::chrono_literals;

std::string simulatorInterface() {
    const char* chosen = std::getenv("KINETRA_TEST_VCAN");
    const std::string name = chosen ? chosen : "vcan0";
    return socketcan::refuseInterfaceName(name).empty() ? name : std::string();
}

TEST(SocketCANSimulator, RefusesAnInterfaceItCannotOpen) {
    SimulatorOptions options;
    options.socketcan = "kinetra-none0";
    EXPECT_THROW(Simulator sim({{NodeKind::Driver, 1}}, options), std::system_error);
}

TEST(SocketCANSimulator, EveryClassAnswersOverTheKernelsCanStack) {
    const std::string name = simulatorInterface();
    if (name.empty()) GTEST_SKIP() << "no virtual CAN interface here (the VM test stage has one)";
    SimulatorOptions options;
    options.socketcan = name;
    Simulator sim({{NodeKind::Driver, 1}, {NodeKind::Actuator, 2}, {NodeKind::Imu, 3}, {NodeKind::Encoder, 4}},
                  options);
    sim.start();
    SocketCANInterface iface;
    ASSERT_TRUE(iface.initInterface(name));
    ASSERT_TRUE(test::eventually([&] { return iface.getConnectedDevices().size() == 4 && iface.isRunning(); }, 3000ms));

    Driver driver(1, &iface);
    Actuator actuator(2, &iface);
    IMU imu(3, &iface);
    Vorlex encoder(4, &iface);
    unsigned char a = 0, b = 0, c = 0, d = 0;
    ASSERT_EQ(driver.getHardwareVersion(&a, &b, &c, &d), RET_OK);
    EXPECT_EQ((std::array<uint8_t, 4>{a, b, c, d}), DriverNode::defaultIdentity().hardware);
    unsigned short patch = 0;
    ASSERT_EQ(imu.getFirmwareVersion(&a, &b, &patch), RET_OK);
    EXPECT_EQ(patch, ImuNode::defaultIdentity().firmware_patch);
    unsigned int id = 0;
    ASSERT_EQ(encoder.getNodeId(&id), RET_OK);
    EXPECT_EQ(id, 4u);
    float voltage = 0;
    sim.nodeAs<ActuatorNode>(2).setBus(47.5f, 1.25f);
    ASSERT_EQ(actuator.getBusVoltage(&voltage), RET_OK);
    EXPECT_EQ(voltage, 47.5f);

    // A configuration round trip: exported, written back, exported the same.
    const std::string exported = driver.exportConfiguration();
    ASSERT_FALSE(exported.empty());
    EXPECT_EQ(driver.importConfiguration(exported), 1);
    EXPECT_EQ(driver.exportConfiguration(), exported);

    iface.closeInterface();
    sim.stop();
    EXPECT_EQ(sim.socketcan()->framesDropped(), 0u);
}

}  // namespace
}  // namespace kinetra::sim
