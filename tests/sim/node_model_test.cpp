// The node framework on its own: replies laid out by each class's routing table,
// heartbeats, configuration registers across reboots, and reply faults.

#include "kinetra_sim/actuator_node.h"
#include "kinetra_sim/driver_node.h"
#include "kinetra_sim/encoder_node.h"
#include "kinetra_sim/imu_fixed_point.h"
#include "kinetra_sim/imu_node.h"
#include "kinetra_sim/node_answer.h"
#include "kinetra_sim/node_factory.h"

#include "can/bus.h"
#include "devices/protocol/common_commands.h"
#include "devices/protocol/imu_protocol.h"
#include "devices/protocol/motor_controller_protocol.h"
#include "devices/protocol/payload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <vector>

namespace kinetra::sim {
namespace {

namespace common = protocol::common;
namespace motor = protocol::motor;

/// Records what a node sends and keeps what it schedules until told to run it.
class FakeContext : public NodeContext {
public:
    struct Sent {
        can_frame_data frame;
        std::chrono::microseconds delay;
    };
    void transmit(Node&, const can_frame_data& frame, std::chrono::microseconds delay) override {
        sent.push_back({frame, delay});
    }
    void schedule(Clock::time_point, std::function<void()> action) override { actions.push_back(std::move(action)); }
    void runScheduled() {
        auto due = std::exchange(actions, {});
        for (auto& action : due) action();
    }
    std::vector<Sent> sent;
    std::vector<std::function<void()>> actions;
};

can_frame_data request(uint32_t node, uint8_t command, protocol::FrameKind kind = protocol::FrameKind::Remote,
                       uint64_t payload = 0) {
    can_frame_data frame{};
    frame.can_id = protocol::hostFrameId(node, command, kind);
    frame.can_dlc = 8;
    protocol::setPayloadWord(frame, payload);
    return frame;
}

struct Attached {
    explicit Attached(const NodeSetup& setup) : node(makeNode(setup)) { node->attach(context); }
    /// Sends a query and returns the reply's payload word; fails when none came.
    uint64_t ask(uint8_t command) {
        context.sent.clear();
        node->receive(request(node->nodeId(), command));
        EXPECT_EQ(context.sent.size(), 1u) << "command " << int(command);
        return context.sent.empty() ? 0 : protocol::payloadWord(context.sent.back().frame);
    }
    FakeContext context;
    std::unique_ptr<Node> node;
};

TEST(SimNodeModel, EveryClassAnswersIdentityQueriesWithTheBytesOfItsRoutingTable) {
    using Bytes = std::array<uint8_t, 8>;
    struct Identity {
        NodeKind kind;
        uint32_t commit_reply_id;  // node 0x2A5, command 0x05, the class's device type
        Bytes hardware;            // four u8
        Bytes firmware;            // u8 major, u8 minor, u16 patch little-endian
        Bytes commit;              // eight characters
    };
    // Written out from the protocol tables and the simulated devices' versions.
    const Identity identities[] = {
        {NodeKind::Driver, 0x84015285u, {1, 3, 0, 0}, {2, 4, 17, 0}, {'a', '3', 'f', '9', 'c', '2', 'e', '1'}},
        {NodeKind::Actuator, 0x88015285u, {1, 1, 0, 0}, {2, 4, 17, 0}, {'b', '7', 'e', '4', '0', 'd', '9', '2'}},
        {NodeKind::Imu, 0x8C015285u, {1, 0, 2, 0}, {1, 2, 5, 0}, {'c', '0', 'f', 'f', 'e', 'e', '4', '2'}},
        {NodeKind::Encoder, 0x90015285u, {1, 0, 1, 0}, {1, 1, 8, 0}, {'e', '1', 'c', '0', 'd', 'e', '7', '7'}},
    };
    for (const Identity& expected : identities) {
        Attached sim(NodeSetup{expected.kind, 0x2A5});
        SCOPED_TRACE(nodeKindName(expected.kind));
        auto bytes = [&](uint8_t command) {
            sim.ask(command);
            Bytes out{};
            if (!sim.context.sent.empty()) std::copy_n(sim.context.sent.back().frame.data, 8, out.begin());
            return out;
        };
        EXPECT_EQ(bytes(common::kGetHardwareVersion), expected.hardware);
        EXPECT_EQ(bytes(common::kGetFirmwareVersion), expected.firmware);
        EXPECT_EQ(bytes(common::kGetNodeId), (Bytes{0xA5, 0x02, 0, 0, 0, 0, 0, 0}));
        EXPECT_EQ(bytes(common::kGetFirmwareCommit), expected.commit);
        // The reply is an extended data frame with the query's command and the node's type.
        ASSERT_FALSE(sim.context.sent.empty());
        EXPECT_EQ(sim.context.sent.back().frame.can_id, expected.commit_reply_id);
        EXPECT_EQ(sim.context.sent.back().frame.can_dlc, 8);
    }
}

// The counts the unit sends, against figures worked out by hand: a reading is
// divided by its query's scale (0.01 or 0.001 as single-precision numbers) and
// rounded half away from zero, then held to 16 bits.
TEST(SimNodeModel, ImuReadingsTravelAsRoundedSaturatedCounts) {
    namespace imu = protocol::imu;
    const double centi = static_cast<double>(0.01f);
    const double milli = static_cast<double>(0.001f);
    struct Case {
        double value;
        uint8_t command;
        int16_t counts;
    };
    const Case cases[] = {
        {2.5 * centi, imu::kGetGyroData, 3},
        {-2.5 * centi, imu::kGetGyroData, -3},
        {0.5 * centi, imu::kGetEulerAngles, 1},
        {-0.5 * centi, imu::kGetEulerAngles, -1},
        {0.4999 * centi, imu::kGetEulerAngles, 0},
        {-1.4999 * centi, imu::kGetAccelerometerData, -1},
        {12.345, imu::kGetEulerAngles, 1235},  // 1234.50003 counts of 0.01f, 1234.49999 of 0.01
        {-0.7071, imu::kGetRotationVectorData, -707},
        {0.0015, imu::kGetGravityData, 1},  // 1.49999993 counts of 0.001f: just below half-way
        {32767.5 * milli, imu::kGetRotationVectorData, 32767},
        {-32768.4 * milli, imu::kGetRotationVectorData, -32768},
        {1e9, imu::kGetMagnetometerData, 32767},
        {-1e9, imu::kGetMagnetometerData, -32768},
        {std::nan(""), imu::kGetGyroData, -32768},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(imuFixedPoint(c.value, c.command), c.counts) << c.value << " for command " << int(c.command);
    }
    // Three counts and a status byte, in that order, each count little-endian two's complement.
    can_frame_data frame{};
    packReply(frame, std::tuple<int16_t, int16_t, int16_t, uint8_t>{3, -3, -32768, 2});
    const uint8_t wire[] = {0x03, 0x00, 0xFD, 0xFF, 0x00, 0x80, 0x02, 0x00};
    EXPECT_TRUE(std::equal(std::begin(wire), std::end(wire), frame.data));
}

TEST(SimNodeModel, IgnoresWhatItCannotAnswer) {
    Attached sim(NodeSetup{NodeKind::Imu, 3});
    const can_frame_data frames[] = {
        request(3, motor::kGetBusVoltageCurrent),  // no route in the IMU's table
        request(3, 0x7B),                           // no route at all
        request(3, protocol::kHeartbeat),
        request(3, protocol::kAcknowledgement),
    };
    for (const auto& frame : frames) sim.node->receive(frame);
    EXPECT_TRUE(sim.context.sent.empty());
    EXPECT_EQ(sim.node->framesHeard(), std::size(frames));
}

TEST(SimNodeModel, MotorControllerHeartbeatCarriesTheStatus) {
    Attached sim(NodeSetup{NodeKind::Actuator, 9});
    auto& actuator = static_cast<ActuatorNode&>(*sim.node);
    actuator.setHeartbeatStatus({0x12345678u, 2, 3});
    actuator.sendHeartbeat();
    ASSERT_EQ(sim.context.sent.size(), 1u);
    const can_frame_data& beat = sim.context.sent[0].frame;
    EXPECT_EQ(beat.can_id, protocol::nodeFrameId(9, protocol::kHeartbeat, uint8_t(protocol::DeviceType::Actuator)));
    const uint8_t expected[] = {0x78, 0x56, 0x34, 0x12, 2, 3, 0, 0};
    EXPECT_TRUE(std::equal(std::begin(expected), std::end(expected), beat.data));

    actuator.setHeartbeatsEnabled(false);
    actuator.sendHeartbeat();
    EXPECT_EQ(sim.context.sent.size(), 1u);
}

/// A driver with one configuration register, as the command-set models add them.
class RegisterDriver : public DriverNode {
public:
    explicit RegisterDriver(const NodeSetup& setup) : DriverNode(setup) {
        bindRegister(motor::kGetCurrentFilter, motor::kSetCurrentFilter, packWord(1.5f));
    }
};

TEST(SimNodeModel, ConfigurationSurvivesRebootOnlyWhenSaved) {
    FakeContext context;
    RegisterDriver node(NodeSetup{NodeKind::Driver, 1, CAN_BAUD_1M});
    node.attach(context);
    auto write = [&](float value) {
        node.receive(request(1, motor::kSetCurrentFilter, protocol::FrameKind::Data, packWord(value)));
    };
    auto live = [&] { return std::get<0>(unpackWord<float>(node.registerWord(motor::kGetCurrentFilter))); };
    auto command = [&](uint8_t id) { node.receive(request(1, id, protocol::FrameKind::Data)); };
    auto reboot = [&] {
        node.reboot(std::chrono::milliseconds(10));
        EXPECT_FALSE(node.online());
        context.runScheduled();
        EXPECT_TRUE(node.online());
    };

    write(2.5f);
    EXPECT_EQ(live(), 2.5f);
    reboot();
    EXPECT_EQ(live(), 1.5f) << "unsaved values are lost";

    write(2.5f);
    node.setBitRate(CAN_BAUD_500K);
    command(common::kSaveConfigurations);
    write(3.5f);
    reboot();
    EXPECT_EQ(live(), 2.5f);
    EXPECT_EQ(node.bitRate(), CAN_BAUD_500K);

    command(common::kEraseConfigurations);
    EXPECT_EQ(live(), 1.5f) << "erasing restores the factory values at once";
    EXPECT_EQ(node.bitRate(), CAN_BAUD_500K) << "but the bit rate only at the next boot";
    reboot();
    EXPECT_EQ(node.bitRate(), CAN_BAUD_1M);

    // The reboot command does the same as the knob, with the default boot time.
    write(4.5f);
    command(common::kReboot);
    EXPECT_FALSE(node.online());
    node.receive(request(1, common::kGetNodeId));
    context.runScheduled();
    EXPECT_TRUE(node.online());
    EXPECT_EQ(live(), 1.5f);
}

TEST(SimNodeModel, AFasterSecondRebootIsNotCutShortByTheFirst) {
    Attached sim(NodeSetup{NodeKind::Encoder, 4});
    sim.node->reboot(std::chrono::milliseconds(10));
    auto first = std::exchange(sim.context.actions, {});
    sim.node->reboot(std::chrono::milliseconds(10));
    first[0]();
    EXPECT_FALSE(sim.node->online());
    sim.context.runScheduled();
    EXPECT_TRUE(sim.node->online());
}

TEST(SimNodeModel, ReplyFaultsDropDelayAndRelabelReplies) {
    Attached sim(NodeSetup{NodeKind::Driver, 1});
    Node& node = *sim.node;
    auto queryCount = [&](uint8_t command, int times) {
        sim.context.sent.clear();
        for (int i = 0; i < times; ++i) node.receive(request(1, command));
        return sim.context.sent.size();
    };

    node.setReplyFaults(ReplyFaults{1.0, {}, {}});
    EXPECT_EQ(queryCount(common::kGetNodeId, 10), 0u);
    EXPECT_EQ(node.repliesDropped(), 10u);

    node.setReplyFaults(ReplyFaults{0.5, {}, {}});
    const std::size_t kept = queryCount(common::kGetNodeId, 400);
    EXPECT_GT(kept, 100u);
    EXPECT_LT(kept, 300u);

    // A per-command fault wins over the default one.
    node.setReplyFaults(ReplyFaults{});
    node.setReplyFaults(common::kGetHardwareVersion, ReplyFaults{0.0, std::chrono::milliseconds(250), 0x04});
    ASSERT_EQ(queryCount(common::kGetHardwareVersion, 1), 1u);
    EXPECT_EQ(sim.context.sent[0].delay, std::chrono::milliseconds(250));
    EXPECT_EQ(sim.context.sent[0].frame.can_id & 0x7F, 0x04u);
    ASSERT_EQ(queryCount(common::kGetNodeId, 1), 1u);
    EXPECT_EQ(sim.context.sent[0].delay.count(), 0);

    node.clearReplyFaults();
    ASSERT_EQ(queryCount(common::kGetHardwareVersion, 1), 1u);
    EXPECT_EQ(sim.context.sent[0].frame.can_id & 0x7F, common::kGetHardwareVersion);
}

/// Models whose handlers disagree with the routing table.
class WrongLayoutDriver : public DriverNode {
public:
    explicit WrongLayoutDriver(const NodeSetup& setup) : DriverNode(setup) {
        answer(motor::kGetBusVoltageCurrent, [] { return 1.0f; });  // the table says two floats
    }
};
class UnroutedImu : public ImuNode {
public:
    explicit UnroutedImu(const NodeSetup& setup) : ImuNode(setup) {
        answer(motor::kGetBusVoltageCurrent, [] { return std::tuple{1.0f, 2.0f}; });
    }
};

TEST(SimNodeModel, HandlersMustMatchTheRoutingTable) {
    EXPECT_THROW(WrongLayoutDriver(NodeSetup{}), std::logic_error);
    EXPECT_THROW(UnroutedImu(NodeSetup{NodeKind::Imu, 3}), std::logic_error);
}

}  // namespace
}  // namespace kinetra::sim
