// Several hosts on one bus, as a monitor next to an application or two programs
// on one bus: each behind an adapter of its own, and none taken for a device.

#include "kinetra_sim/adapter_protocol.h"
#include "kinetra_sim/driver_node.h"
#include "kinetra_sim/reply_faults.h"
#include "kinetra_sim/simulator.h"
#include "kinetra_sim/virtual_bus.h"

#include <kinetra/driver.h>
#include <kinetra/imu.h>
#include <kinetra/usb_interface.h>

#include "can/bus.h"
#include "devices/protocol/common_commands.h"
#include "support/text_wire.h"
#include "support/wait.h"
#include "usb/slcan_codec.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace kinetra::sim {
namespace {

using namespace std::chrono_literals;

using HostTextWire = test::TextWire;

TEST(SeveralHostsOnOneBus, AFrameReachesTheNodesAndEveryOtherHostThatCarriesIt) {
    can_frame_data query{};
    query.can_id = protocol::hostFrameId(1, protocol::common::kGetFirmwareVersion, protocol::FrameKind::Remote);
    query.can_dlc = protocol::kQueryDlc;
    const std::string line = slcan::encodeFrame(query, slcan::RemoteForm::Short);
    const uint32_t reply = protocol::nodeFrameId(1, protocol::common::kGetFirmwareVersion,
                                                 static_cast<uint8_t>(protocol::DeviceType::Driver));

    VirtualBus bus;
    bus.addNode(std::make_unique<DriverNode>(NodeSetup{NodeKind::Driver, 1, CAN_BAUD_500K}));
    AdapterSetup generic;
    generic.generic = true;  // its channel stays closed until its host opens it
    HostTextWire wire_a, wire_b, wire_c;
    AdapterProtocol a(AdapterSetup{}, wire_a, bus), b(AdapterSetup{}, wire_b, bus), c(generic, wire_c, bus);
    for (AdapterProtocol* port : {&a, &b, &c}) bus.attach(*port);
    using Ids = std::vector<uint32_t>;

    // A's query reaches the node and B, never A itself; C's closed channel hears nothing.
    a.feed(line.data(), line.size());
    EXPECT_EQ(wire_a.takeFrameIds(), Ids{reply});
    EXPECT_EQ(wire_b.takeFrameIds(), (Ids{query.can_id, reply}));
    EXPECT_EQ(wire_c.takeFrameIds(), Ids{});

    // Each adapter has its own rate: B at 1 Mbit/s hears neither; C, opened, hears both.
    const std::string to_1m = slcan::setBitRateCommand(CAN_BAUD_1M);
    b.feed(to_1m.data(), to_1m.size());
    c.feed("O\r", 2);
    a.feed(line.data(), line.size());
    EXPECT_EQ(wire_a.takeFrameIds(), Ids{reply});
    EXPECT_EQ(wire_b.takeFrameIds(), Ids{});
    EXPECT_EQ(wire_c.takeFrameIds(), (Ids{query.can_id, reply}));

    // A detached adapter hears nothing more.
    bus.detach(c);
    c.feed(line.data(), line.size());
    EXPECT_EQ(wire_a.takeFrameIds(), (Ids{query.can_id, reply}));
    EXPECT_EQ(wire_c.takeFrameIds(), Ids{});
    for (AdapterProtocol* port : {&a, &b}) bus.detach(*port);
}

// Fault pinned: another host's master heartbeat (master flag, node 0) made "node 0"
// appear in the presence table and the appeared callback, and kept it present.
// Two library hosts on one simulated bus, the other one's master heartbeats,
// queries (some of the very commands ours read) and commands interleaved with
// ours: neither sees a phantom node, and no read of ours takes a wrong value.
class TwoLibraryHosts : public ::testing::TestWithParam<bool> {};

// The reads our host makes: node, command.
const std::pair<uint32_t, uint8_t> kOurReads[] = {{1, protocol::common::kGetFirmwareVersion},
                                                  {1, protocol::common::kGetHardwareVersion},
                                                  {3, protocol::common::kGetFirmwareVersion}};

TEST_P(TwoLibraryHosts, NoPhantomNodeAndNoWrongValue) {
    SimulatorOptions options;
    options.hosts = 2;
    options.timing.enabled = GetParam();
    options.timing.adapter_latency = 0us;  // the bus's own bit times only: quick
    Simulator sim({{NodeKind::Driver, 1}, {NodeKind::Imu, 3}}, options);
    sim.start();
    sim.registerAsAdapter();
    ASSERT_NE(sim.host(0).portName(), sim.host(1).portName());

    std::mutex mutex;
    std::vector<unsigned> appeared;
    auto record = [&](unsigned node, unsigned char) {
        std::lock_guard<std::mutex> lock(mutex);
        appeared.push_back(node);
    };
    USBInterface ours, theirs;
    std::atomic<unsigned> their_frames_seen{0};
    ours.setFrameObserver([&](const can_frame_data& frame) {
        if ((frame.can_id & protocol::kRemoteFlag) != 0) ++their_frames_seen;  // only hosts send remote frames
    });
    ASSERT_TRUE(ours.initInterface(sim.host(0).portName(), record));
    ASSERT_TRUE(theirs.initInterface(sim.host(1).portName(), record));
    const std::map<unsigned, unsigned char> nodes = {{1, 1}, {3, 3}};
    ASSERT_TRUE(test::eventually([&] {
        return ours.getConnectedDevices() == nodes && theirs.getConnectedDevices() == nodes && ours.isRunning() &&
               theirs.isRunning();
    }, 3000ms));

    // Our reads' replies take a millisecond, so that the other host's traffic
    // surely falls inside our waits.
    ReplyFaults slow;
    slow.delay = 1ms;
    for (const auto& [node, command] : kOurReads) sim.node(node).setReplyFaults(command, slow);

    Driver driver(1, &ours), their_driver(1, &theirs);
    IMU imu(3, &ours), their_imu(3, &theirs);
    std::atomic<bool> done{false};
    std::thread other_host([&] {
        // Besides its proxies' traffic, the other host sends the very queries ours
        // wait on, without waiting itself: each reaches ours before the reply to it.
        can_frame_data burst[4] = {protocol::masterHeartbeatFrame()};
        for (std::size_t i = 0; i < 3; ++i) {
            burst[i + 1].can_id =
                protocol::hostFrameId(kOurReads[i].first, kOurReads[i].second, protocol::FrameKind::Remote);
            burst[i + 1].can_dlc = protocol::kQueryDlc;
        }
        unsigned char a, b, c, d;
        float x, y, z;
        while (!done) {
            theirs.sendFrames(burst, 4);
            their_driver.getBusVoltage(&x);
            their_driver.setDeviceToIdle();
            their_imu.getHardwareVersion(&a, &b, &c, &d);
            their_imu.getEulerAngles(&x, &y, &z);
            their_driver.clearDriverErrors();
        }
    });

    const NodeIdentity& driver_id = sim.node(1).identity();
    const NodeIdentity& imu_id = sim.node(3).identity();
    constexpr int kRounds = 400;  // three reads a round
    int wrong = 0;
    for (int round = 0; round < kRounds && wrong < 5; ++round) {
        unsigned char major = 0, minor = 0, h[4] = {};
        unsigned short patch = 0;
        EXPECT_EQ(driver.getFirmwareVersion(&major, &minor, &patch), RET_OK);
        wrong += std::tie(major, minor, patch) !=
                 std::tie(driver_id.firmware_major, driver_id.firmware_minor, driver_id.firmware_patch);
        EXPECT_EQ(driver.getHardwareVersion(&h[0], &h[1], &h[2], &h[3]), RET_OK);
        wrong += !std::equal(h, h + 4, driver_id.hardware.begin());
        EXPECT_EQ(imu.getFirmwareVersion(&major, &minor, &patch), RET_OK);
        wrong += std::tie(major, minor, patch) !=
                 std::tie(imu_id.firmware_major, imu_id.firmware_minor, imu_id.firmware_patch);
    }
    done = true;
    other_host.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(their_frames_seen.load(), 0u) << "the other host's frames reached ours";
    EXPECT_EQ(ours.getConnectedDevices(), nodes);
    EXPECT_EQ(theirs.getConnectedDevices(), nodes);
    ours.closeInterface();
    theirs.closeInterface();
    std::lock_guard<std::mutex> lock(mutex);
    for (unsigned node : appeared) EXPECT_NE(node, 0u) << "a host was taken for a node";
    EXPECT_EQ(appeared.size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Timing, TwoLibraryHosts, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Timed" : "Untimed"; });

}  // namespace
}  // namespace kinetra::sim
