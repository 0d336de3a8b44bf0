// The node framework on its own: replies laid out by each class's routing table,
// heartbeats, configuration registers across reboots, and reply faults.

#include "kinetra_sim/actuator_node.h"
#include "kinetra_sim/driver_node.h"
#include "kinetra_sim/encoder_node.h"
#include "kinetra_sim/imu_node.h"
#include "kinetra_sim/node_answer.h"
#include "kinetra_sim/node_factory.h"

#include "can/bus.h"
#include "devices/protocol/common_commands.h"
#include "devices/protocol/motor_controller_protocol.h"
#include "devices/protocol/payload.h"

#include <gtest/gtest.h>

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

TEST(SimNodeModel, EveryClassAnswersIdentityQueriesByItsRoutingTable) {
    const NodeKind kinds[] = {NodeKind::Driver, NodeKind::Actuator, NodeKind::Imu, NodeKind::Encoder};
    const protocol::DeviceType types[] = {protocol::DeviceType::Driver, protocol::DeviceType::Actuator,
                                          protocol::DeviceType::Imu, protocol::DeviceType::Encoder};
    for (std::size_t i = 0; i < std::size(kinds); ++i) {
        Attached sim(NodeSetup{kinds[i], 0x2A5});
        const NodeIdentity& id = sim.node->identity();
        SCOPED_TRACE(nodeKindName(kinds[i]));

        EXPECT_EQ(sim.ask(common::kGetHardwareVersion), packWord(id.hardware[0], id.hardware[1], id.hardware[2],
                                                                 id.hardware[3]));
        EXPECT_EQ(sim.ask(common::kGetFirmwareVersion),
                  packWord(id.firmware_major, id.firmware_minor, id.firmware_patch));
        EXPECT_EQ(sim.ask(common::kGetNodeId), 0x2A5u);
        const uint64_t commit = sim.ask(common::kGetFirmwareCommit);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&commit), 8), id.commit);

        // The reply is an extended data frame with the query's command and the node's type.
        const can_frame_data& reply = sim.context.sent.back().frame;
        EXPECT_EQ(reply.can_id, protocol::nodeFrameId(0x2A5, common::kGetFirmwareCommit, uint8_t(types[i])));
        EXPECT_EQ(reply.can_dlc, 8);
        EXPECT_EQ(sim.node->deviceType(), types[i]);
    }
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
