// End to end: the library's USBInterface and proxies, the serial layer, a pty and
// the simulator, exactly as an application with real hardware would run.

#include "kinetra_sim/actuator_node.h"
#include "kinetra_sim/driver_node.h"
#include "kinetra_sim/imu_node.h"
#include "kinetra_sim/simulator.h"

#include <kinetra/actuator.h>
#include <kinetra/driver.h>
#include <kinetra/imu.h>
#include <kinetra/usb_interface.h>
#include <kinetra/vorlex.h>

#include "devices/protocol/common_commands.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace kinetra::sim {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace common = protocol::common;

const std::vector<NodeSetup> kFourNodes = {
    {NodeKind::Driver, 1}, {NodeKind::Actuator, 2}, {NodeKind::Imu, 3}, {NodeKind::Encoder, 4}};

class SimulatorEndToEnd : public ::testing::Test {
protected:
    SimulatorEndToEnd() : sim_(kFourNodes) {
        sim_.start();
        sim_.registerAsAdapter();
    }
    ~SimulatorEndToEnd() override { iface_.closeInterface(); }

    /// Opens the interface and waits until all four nodes are present.
    void openAndWaitForNodes() {
        ASSERT_TRUE(iface_.initInterface(
            sim_.portName(),
            [this](unsigned int node, unsigned char type) {
                std::lock_guard<std::mutex> lock(mutex_);
                appeared_.emplace_back(node, type);
            },
            [this](unsigned int node) {
                std::lock_guard<std::mutex> lock(mutex_);
                lost_.emplace_back(node, Clock::now());
            }));
        // Nodes may be heard before the first master heartbeat has gone out, and
        // until then the interface does not count as running.
        ASSERT_TRUE(test::eventually(
            [&] { return iface_.getConnectedDevices().size() == 4 && iface_.isRunning(); }, 3000ms));
    }
    std::vector<std::pair<unsigned, unsigned char>> appeared() {
        std::lock_guard<std::mutex> lock(mutex_);
        return appeared_;
    }
    std::vector<std::pair<unsigned, Clock::time_point>> lost() {
        std::lock_guard<std::mutex> lock(mutex_);
        return lost_;
    }

    Simulator sim_;
    USBInterface iface_;
    std::mutex mutex_;
    std::vector<std::pair<unsigned, unsigned char>> appeared_;
    std::vector<std::pair<unsigned, Clock::time_point>> lost_;
};

// Also pins a fault: callbacks stored after the threads started missed the nodes
// whose first heartbeat came in between.
TEST_F(SimulatorEndToEnd, NodesAppearOnceWithTheirDeviceTypes) {
    openAndWaitForNodes();
    std::this_thread::sleep_for(400ms);  // a few more heartbeats each
    auto seen = appeared();
    std::sort(seen.begin(), seen.end());
    const std::vector<std::pair<unsigned, unsigned char>> expected = {{1, 1}, {2, 2}, {3, 3}, {4, 4}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(iface_.getConnectedDevices(), (std::map<unsigned, unsigned char>{{1, 1}, {2, 2}, {3, 3}, {4, 4}}));
}

// Regression: a heartbeat read while the interface closed was reported as a new
// node and left the node present after closeInterface().
TEST_F(SimulatorEndToEnd, ClosingReportsNothingAndLeavesNoNodePresent) {
    openAndWaitForNodes();
    const std::size_t reported = appeared().size();
    iface_.closeInterface();
    EXPECT_EQ(appeared().size(), reported);
    EXPECT_TRUE(iface_.getConnectedDevices().empty());
}

TEST_F(SimulatorEndToEnd, ANodeWhoseHeartbeatsStopIsLostAndComesBack) {
    openAndWaitForNodes();
    const auto stopped = Clock::now();
    sim_.node(2).setHeartbeatsEnabled(false);
    ASSERT_TRUE(test::eventually([&] { return !lost().empty(); }, 3000ms));
    const auto after = lost()[0].second - stopped;
    // The host drops a node 1.001 s to about 1.2 s after its last heartbeat.
    EXPECT_GE(after, 800ms);
    EXPECT_LE(after, 1600ms) << std::chrono::duration_cast<std::chrono::milliseconds>(after).count() << " ms";
    EXPECT_EQ(lost()[0].first, 2u);

    sim_.node(2).setHeartbeatsEnabled(true);
    ASSERT_TRUE(test::eventually([&] { return iface_.isDeviceConnected(2); }, 1000ms));
    EXPECT_EQ(lost().size(), 1u) << "only the silent node was lost";
    EXPECT_EQ(appeared().size(), 5u) << "and it was reported new again";
}

TEST_F(SimulatorEndToEnd, AdapterQueriesReturnTheSimulatorsVersionsAndBitRate) {
    openAndWaitForNodes();
    uint8_t major = 0, minor = 0, patch = 0;
    std::string tag;
    ASSERT_EQ(iface_.getFirmwareVersion(&major, &minor, &patch, &tag), RET_INTERFACE_OK);
    const AdapterSetup& setup = sim_.adapter().setup();
    EXPECT_EQ(std::tie(major, minor, patch, tag),
              std::tie(setup.firmware_major, setup.firmware_minor, setup.firmware_patch, setup.firmware_tag));
    ASSERT_EQ(iface_.getHardwareVersion(&major, &minor, &patch), RET_INTERFACE_OK);
    EXPECT_EQ(std::tie(major, minor, patch), std::tie(setup.hardware_major, setup.hardware_minor, setup.hardware_patch));
    CANBaudRate rate = CAN_BAUD_10K;
    ASSERT_EQ(iface_.getCANBaudRate(&rate), RET_INTERFACE_OK);
    EXPECT_EQ(rate, CAN_BAUD_500K);

    // At another rate the adapter no longer hears the nodes, which the host then loses.
    ASSERT_EQ(iface_.setCANBaudRate(CAN_BAUD_250K), RET_INTERFACE_OK);
    ASSERT_EQ(iface_.getCANBaudRate(&rate), RET_INTERFACE_OK);
    EXPECT_EQ(rate, CAN_BAUD_250K);
    sim_.node(3).setBitRate(CAN_BAUD_250K);
    ASSERT_TRUE(test::eventually([&] { return lost().size() == 3; }, 3000ms));
    EXPECT_TRUE(iface_.isDeviceConnected(3));
}

TEST_F(SimulatorEndToEnd, EveryClassAnswersItsQueries) {
    openAndWaitForNodes();
    Driver driver(1, &iface_);
    Actuator actuator(2, &iface_);
    IMU imu(3, &iface_);
    Vorlex encoder(4, &iface_);

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
    sim_.nodeAs<ActuatorNode>(2).setBus(47.5f, 1.25f);
    ASSERT_EQ(actuator.getBusVoltage(&voltage), RET_OK);
    EXPECT_EQ(voltage, 47.5f);
}

TEST_F(SimulatorEndToEnd, DroppedRepliesTimeOut) {
    openAndWaitForNodes();
    Driver driver(1, &iface_);
    unsigned int id = 0;
    sim_.node(1).setReplyFaults(ReplyFaults{1.0, {}, {}});
    EXPECT_EQ(driver.getNodeId(&id), RET_TIMEOUT);
    sim_.node(1).clearReplyFaults();
    EXPECT_EQ(driver.getNodeId(&id), RET_OK);
    EXPECT_EQ(id, 1u);
}

TEST_F(SimulatorEndToEnd, LateAndWrongIdRepliesAreNotHandedToTheNextQuery) {
    openAndWaitForNodes();
    Driver driver(1, &iface_);
    const NodeIdentity expected = DriverNode::defaultIdentity();
    unsigned char a = 0, b = 0, c = 0, d = 0;
    unsigned short patch = 0;

    // The hardware reply lands in the middle of the firmware query that follows it.
    sim_.node(1).setReplyFaults(common::kGetHardwareVersion, ReplyFaults{0.0, 250ms, {}});
    sim_.node(1).setReplyFaults(common::kGetFirmwareVersion, ReplyFaults{0.0, 100ms, {}});
    EXPECT_EQ(driver.getHardwareVersion(&a, &b, &c, &d), RET_TIMEOUT);
    ASSERT_EQ(driver.getFirmwareVersion(&a, &b, &patch), RET_OK);
    EXPECT_EQ(std::tie(a, b, patch), std::tie(expected.firmware_major, expected.firmware_minor,
                                              expected.firmware_patch));

    // A reply labelled with another command answers nothing; the next query gets its own.
    sim_.node(1).clearReplyFaults();
    sim_.node(1).setReplyFaults(common::kGetNodeId, ReplyFaults{0.0, {}, common::kGetFirmwareVersion});
    unsigned int id = 0;
    EXPECT_EQ(driver.getNodeId(&id), RET_TIMEOUT);
    ASSERT_EQ(driver.getFirmwareVersion(&a, &b, &patch), RET_OK);
    EXPECT_EQ(patch, expected.firmware_patch);
}

TEST_F(SimulatorEndToEnd, GarbageAndAShortRebootDoNotDisturbTheBus) {
    openAndWaitForNodes();
    IMU imu(3, &iface_);
    unsigned int id = 0;
    sim_.sendGarbage(300);
    EXPECT_EQ(imu.getNodeId(&id), RET_OK);

    sim_.node(3).reboot(300ms);
    EXPECT_EQ(imu.getNodeId(&id), RET_TIMEOUT) << "a rebooting node is deaf";
    ASSERT_TRUE(test::eventually([&] { return sim_.node(3).online(); }, 1000ms));
    EXPECT_EQ(imu.getNodeId(&id), RET_OK);
    EXPECT_TRUE(lost().empty()) << "a reboot shorter than the host's patience goes unnoticed";
}

TEST_F(SimulatorEndToEnd, UnpluggingTheAdapterWhileQueriesRunFailsThemCleanly) {
    openAndWaitForNodes();
    Driver driver(1, &iface_);
    IMU imu(3, &iface_);
    std::atomic<bool> unplugged{false};
    std::atomic<int> failures_after_unplug{0};
    std::atomic<int> successes_after_unplug{0};

    auto hammer = [&](auto query) {
        const auto deadline = Clock::now() + 5s;
        int failures = 0;
        while (failures < 3 && Clock::now() < deadline) {
            const bool was_unplugged = unplugged.load();
            const bool ok = query();
            if (was_unplugged) {
                ok ? ++successes_after_unplug : (++failures, ++failures_after_unplug);
            }
        }
    };
    std::vector<std::thread> threads;
    threads.emplace_back(hammer, [&] {
        unsigned int id;
        return driver.getNodeId(&id) == RET_OK;
    });
    threads.emplace_back(hammer, [&] {
        unsigned char a, b;
        unsigned short c;
        return imu.getFirmwareVersion(&a, &b, &c) == RET_OK;
    });
    threads.emplace_back(hammer, [&] {
        CANBaudRate rate;
        return iface_.getCANBaudRate(&rate) == RET_INTERFACE_OK;
    });

    std::this_thread::sleep_for(300ms);
    sim_.unplug();
    unplugged = true;
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures_after_unplug.load(), 9) << "every thread saw its queries fail";
    EXPECT_EQ(successes_after_unplug.load(), 0);

    const auto closing = Clock::now();
    iface_.closeInterface();
    const auto took = Clock::now() - closing;
    EXPECT_LE(took, 1500ms) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
}

TEST(SimulatorStandalone, OpensThroughTheGenericSlcanTransportWithoutRegistration) {
    Simulator sim({{NodeKind::Encoder, 7}});
    sim.start();
    // A generic adapter's channel is opened at the rate the host names; the
    // simulated nodes run at 500 kbit/s.
    SlcanInterface iface(CAN_BAUD_500K);
    ASSERT_TRUE(iface.initInterface(sim.portName()));
    EXPECT_TRUE(test::eventually([&] { return iface.isDeviceConnected(7); }, 3000ms));
    iface.closeInterface();
}

}  // namespace
}  // namespace kinetra::sim
