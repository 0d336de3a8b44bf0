// The virtual adapter's line handling and bit-rate gate, without a pty: lines go
// in through feed(), what the adapter says comes out of an in-memory wire.

#include "kinetra_sim/adapter_protocol.h"
#include "kinetra_sim/driver_node.h"
#include "kinetra_sim/imu_node.h"
#include "kinetra_sim/reply_faults.h"
#include "kinetra_sim/virtual_bus.h"

#include "can/bus.h"
#include "devices/protocol/common_commands.h"
#include "usb/slcan_codec.h"

#include "support/text_wire.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <string>
#include <vector>

namespace kinetra::sim {
namespace {

namespace common = protocol::common;

using CaptureWire = test::TextWire;

std::string queryLine(uint32_t node, uint8_t command) {
    can_frame_data frame{};
    frame.can_id = protocol::hostFrameId(node, command, protocol::FrameKind::Remote);
    frame.can_dlc = protocol::kQueryDlc;
    return slcan::encodeFrame(frame);
}

AdapterSetup oneMegabit() {
    AdapterSetup setup;
    setup.bit_rate = CAN_BAUD_1M;
    return setup;
}

class AdapterProtocolTest : public ::testing::Test {
protected:
    AdapterProtocolTest() : adapter_(oneMegabit(), wire_, bus_) {
        bus_.addNode(std::make_unique<DriverNode>(NodeSetup{NodeKind::Driver, 1, CAN_BAUD_1M}));
        bus_.addNode(std::make_unique<ImuNode>(NodeSetup{NodeKind::Imu, 3, CAN_BAUD_500K}));
        bus_.connect(&adapter_);
    }
    /// Feeds `text` and returns what the adapter wrote back.
    std::string send(const std::string& text) {
        adapter_.feed(text.data(), text.size());
        return wire_.take();
    }
    /// The command ids of the node frames the adapter passed to the host for `text`.
    std::vector<uint32_t> repliesTo(const std::string& text) {
        std::vector<uint32_t> ids;
        const std::string out = send(text);
        std::size_t start = 0;
        for (std::size_t end; (end = out.find('\r', start)) != std::string::npos; start = end + 1) {
            const auto decoded = slcan::decodeLine(std::string_view(out).substr(start, end - start));
            if (decoded.kind == slcan::LineKind::Frame) ids.push_back(decoded.frame.can_id);
        }
        return ids;
    }

    CaptureWire wire_;
    VirtualBus bus_;
    AdapterProtocol adapter_;
};

TEST_F(AdapterProtocolTest, AnswersAndAcknowledgesCommandsLikeAnSlcanAdapter) {
    struct Step {
        std::string line;
        std::string reply;
    };
    // From power-on: channel open at 1 Mbit/s.
    const Step steps[] = {
        {"V\r", "V1.2.3-51mc0de1\r"}, {"H\r", "H2.1.0\r"}, {"G\r", "G8\r"},
        {"O\r", "\a"},                // already open
        {"S6\r", "\a"},               // rate changes need a closed channel
        {"Z0\r", "\a"},               // so do configuration actions
        {"C\r", "\r"},  {"C\r", "\r"},  // closing twice is harmless
        {"S6\r", "\r"}, {"G\r", "G6\r"}, {"S9\r", "\a"}, {"O\r", "\r"},
        {"x\r", "\a"},  {"\r", ""},   // an empty line says nothing
        {"V2\r", "\a"},
    };
    for (const auto& step : steps) EXPECT_EQ(send(step.line), step.reply) << step.line;
    EXPECT_TRUE(adapter_.channelOpen());
    EXPECT_EQ(adapter_.bitRate(), CAN_BAUD_500K);
}

TEST_F(AdapterProtocolTest, SavesErasesAndReloadsItsBitRate) {
    EXPECT_EQ(send("C\rS5\rZ0\rO\r"), "\r\r\r\r");
    EXPECT_EQ(adapter_.savedBitRate(), CAN_BAUD_250K);
    EXPECT_EQ(send("C\rS6\rZ2\r"), "\r\r\r");
    EXPECT_EQ(adapter_.bitRate(), CAN_BAUD_250K) << "a reboot comes back at the saved rate";
    EXPECT_TRUE(adapter_.channelOpen()) << "and opens the channel as at power-on";
    EXPECT_EQ(send("C\rZ1\rZ2\r"), "\r\r\r");
    EXPECT_EQ(adapter_.bitRate(), CAN_BAUD_1M);
}

TEST_F(AdapterProtocolTest, FirmwareUpdateModeServesOnlyIdentityAndReboot) {
    EXPECT_EQ(send("C\rd\r"), "\rd\r");
    EXPECT_TRUE(adapter_.inDfuMode());
    EXPECT_EQ(send("O\r"), "\a");
    EXPECT_EQ(send(queryLine(1, common::kGetNodeId)), "\a");
    EXPECT_EQ(send("V\r"), "V1.2.3-51mc0de1\r");
    EXPECT_EQ(send("Z2\r"), "\r");
    EXPECT_FALSE(adapter_.inDfuMode());
    EXPECT_EQ(repliesTo(queryLine(1, common::kGetNodeId)).size(), 1u);
}

TEST_F(AdapterProtocolTest, NodesHearAndAreHeardOnlyAtTheAdaptersRate) {
    const uint32_t driver_reply = protocol::nodeFrameId(1, common::kGetNodeId, 1) ;
    const uint32_t imu_reply = protocol::nodeFrameId(3, common::kGetNodeId, 3);
    const std::string both = queryLine(1, common::kGetNodeId) + queryLine(3, common::kGetNodeId);

    EXPECT_EQ(repliesTo(both), std::vector<uint32_t>{driver_reply});
    send("C\rS6\rO\r");
    EXPECT_EQ(repliesTo(both), std::vector<uint32_t>{imu_reply});
    bus_.find(1)->setBitRate(CAN_BAUD_500K);
    EXPECT_EQ(repliesTo(both), (std::vector<uint32_t>{driver_reply, imu_reply}));

    // A node's own frames are gated too, heartbeats included.
    bus_.find(3)->setBitRate(CAN_BAUD_1M);
    bus_.find(3)->sendHeartbeat();
    bus_.find(1)->sendHeartbeat();
    EXPECT_EQ(slcan::decodeLine(wire_.take()).frame.can_id,
              protocol::nodeFrameId(1, protocol::kHeartbeat, static_cast<uint8_t>(protocol::DeviceType::Driver)));

    // A closed channel carries nothing either way; the host's frame is refused.
    EXPECT_EQ(send("C\r"), "\r");
    EXPECT_EQ(send(queryLine(1, common::kGetNodeId)), "\a");
    bus_.find(1)->sendHeartbeat();
    EXPECT_EQ(wire_.take(), "");
}

TEST_F(AdapterProtocolTest, SplitsLinesAnywhereAndRefusesOverlongOnes) {
    const std::string query = queryLine(1, common::kGetNodeId);
    std::string reply_lines;
    for (std::size_t i = 0; i < query.size(); ++i) reply_lines += send(query.substr(i, 1));
    EXPECT_EQ(slcan::decodeLine(reply_lines).kind, slcan::LineKind::Frame);

    EXPECT_EQ(send("G\r\n"), "G8\r") << "line feeds after the terminator are ignored";
    EXPECT_EQ(send(std::string(200, 'T') + "\rG\r"), "\aG8\r") << "one bell for the whole over-long line";
    EXPECT_EQ(adapter_.refusals(), 1u);
}

// The lines written out by hand: node 1's id query as the longest frame line a
// host may send (a data frame with eight bytes), and the driver's answer as the
// longest the adapter sends. One digit more is refused and reaches no node.
TEST_F(AdapterProtocolTest, TheLongestFrameLinesPassAndOneDigitMoreIsRefused) {
    const std::string longest = "T0000008A80000000000000000\r";
    ASSERT_EQ(longest.size(), 27u);
    EXPECT_EQ(send(longest), "T0400008A80100000000000000\r");
    EXPECT_EQ(send("T0000008A800000000000000000\r"), "\a");
    EXPECT_EQ(send("t0008" + std::string(16, '0') + "0\r"), "\a");
    EXPECT_EQ(adapter_.framesFromHost(), 1u);
}

// A reply held back by its delay is lost when its node went off the bus in the
// meantime (it rebooted), as on a real bus; the same reply of a node that stayed
// arrives as written out here.
TEST_F(AdapterProtocolTest, ADelayedReplyOfANodeThatWentOfflineIsNotSent) {
    using namespace std::chrono_literals;
    bus_.find(3)->setBitRate(CAN_BAUD_1M);
    for (uint32_t node : {1u, 3u}) {
        bus_.find(node)->setHeartbeatsEnabled(false);
        bus_.find(node)->setReplyFaults(ReplyFaults{0.0, 100ms, {}});
    }
    bus_.start();
    EXPECT_EQ(send(queryLine(1, common::kGetNodeId) + queryLine(3, common::kGetNodeId)), "");
    // The bus runs its actions in time order: the reboot before the replies fall
    // due, the marker after them.
    bus_.schedule(NodeContext::Clock::now(), [this] { bus_.find(1)->reboot(5s); });
    std::promise<void> due;
    bus_.schedule(NodeContext::Clock::now() + 105ms, [&due] { due.set_value(); });
    ASSERT_EQ(due.get_future().wait_for(2s), std::future_status::ready);
    EXPECT_EQ(wire_.take(), "T0C00018A80300000000000000\r");
    bus_.stop();
}

TEST_F(AdapterProtocolTest, GarbageNeverDecodesAsAFrameOrAReply) {
    adapter_.sendGarbage(500, 7);
    const std::string out = wire_.take();
    ASSERT_FALSE(out.empty());
    std::size_t start = 0;
    for (std::size_t end; (end = out.find('\r', start)) != std::string::npos; start = end + 1) {
        std::string_view line = std::string_view(out).substr(start, end - start);
        while (!line.empty() && line.front() == '\a') line.remove_prefix(1);
        const auto kind = slcan::decodeLine(line).kind;
        EXPECT_TRUE(kind != slcan::LineKind::Frame && kind != slcan::LineKind::FirmwareVersion &&
                    kind != slcan::LineKind::HardwareVersion && kind != slcan::LineKind::BitRate &&
                    kind != slcan::LineKind::DfuInfo)
            << "garbage line decoded as something real: " << line;
    }
}

}  // namespace
}  // namespace kinetra::sim
