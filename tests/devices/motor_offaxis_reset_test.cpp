// Resetting a sensor chip's off-axis calibration: the configuration read, the
// register writes in order with their pauses, and the messages.

#include <kinetra/driver.h>

#include "calibration/cancellable_pause_clock.h"
#include "calibration/offaxis_reset.h"
#include "devices/protocol/motor_controller_protocol.h"
#include "motor_node_fixture.h"

#include <atomic>
#include <sstream>
#include <utility>
#include <vector>

namespace {

using kinetra::protocol::DeviceType;
using kinetra::test::MotorNodeTest;
using kinetra::test::MotorRequest;
using kinetra::test::readOf;
using namespace std::chrono_literals;
namespace motor = kinetra::protocol::motor;

/// The driver's implementation registered for its node's frames, so the reset
/// can be run with recorded instead of real pauses.
class RegisteredCommands : public CANDeviceType {
public:
    RegisteredCommands(unsigned node, Interface* iface) : commands(node, iface), iface_(iface) {
        node_id_ = node;
        iface_->registerCANMsgCallback(this);
    }
    ~RegisteredCommands() override { iface_->unregisterCANMsgCallback(this); }
    void canMsgCallback(can_frame_data* frame) override { commands.handleFrame(frame); }

    kinetra::DriverCommands commands;

private:
    Interface* iface_;
};

const char* const kIncompatible = "Incompatible encoder has been configured. Please use either MA702, MA732 or MA600\n";

class OffAxisResetTest : public MotorNodeTest {
protected:
    void SetUp() override {
        MotorNodeTest::SetUp();
        device = &startNode(DeviceType::Driver);
    }

    /// Runs the reset on a driver whose selected encoder reports `type` (none
    /// when `type` is negative: the read times out), with recorded pauses.
    std::string run(bool output, int type, int cancel_at_pause = -1) {
        device->setRepliesStopped(type < 0);
        const auto answer = std::vector<uint8_t>{static_cast<uint8_t>(type), 0x00, 0x10, 0x00, 0x00, 0x01};
        device->answer(output ? motor::kGetOutputEncoderConfiguration : motor::kGetMotorEncoderConfiguration, answer);
        pauses.clear();
        RegisteredCommands driver(kNode, &bus);
        std::ostringstream out;
        bus.clearSent();
        std::atomic<bool> cancel{cancel_at_pause == 0};
        result = kinetra::clearOffAxisCalibration(
            &driver.commands, output, out,
            [&](std::chrono::milliseconds pause) {
                pauses.push_back({requestsTo().size(), pause});
                if (static_cast<int>(pauses.size()) == cancel_at_pause) cancel = true;
            },
            &cancel);
        return out.str();
    }

    /// Register writes expected after the configuration read.
    static MotorRequest write(bool output, uint8_t reg, uint8_t value) {
        const unsigned bits = (output ? 1u : 0u) | reg << 1 | unsigned(value) << 9;
        return MotorRequest{motor::kSetMAxxxSPIRegister, false, 3,
                            {uint8_t(bits), uint8_t(bits >> 8), uint8_t(bits >> 16)}};
    }

    void expectFrames(const std::vector<MotorRequest>& expected) {
        const auto sent = requestsTo();
        ASSERT_EQ(sent.size(), expected.size());
        for (std::size_t i = 0; i < sent.size(); ++i) {
            SCOPED_TRACE(i);
            kinetra::test::expectRequest(sent[i], kNode, expected[i]);
        }
    }

    kinetra::test::ScriptedDevice* device = nullptr;
    kinetra::OffAxisCalibrationResult result;
    /// Each pause with the number of frames sent before it.
    std::vector<std::pair<std::size_t, std::chrono::milliseconds>> pauses;
};

TEST_F(OffAxisResetTest, MA7xxZeroesTrimmingOnly) {
    EXPECT_EQ(run(false, motor::kEncoderTypeMA7xx), "Done.\n");
    expectFrames({readOf(motor::kGetMotorEncoderConfiguration), write(false, 2, 0), write(false, 3, 0)});
    const decltype(pauses) expected{{2, 100ms}, {3, 100ms}};
    EXPECT_EQ(pauses, expected);
}

TEST_F(OffAxisResetTest, MA600ZeroesHarmonicsAndStoresThem) {
    EXPECT_EQ(run(true, motor::kEncoderTypeMA600), "Done.\n");
    std::vector<MotorRequest> expected{readOf(motor::kGetOutputEncoderConfiguration), write(true, 2, 0),
                                       write(true, 3, 0)};
    for (uint8_t reg = 32; reg <= 63; ++reg) expected.push_back(write(true, reg, 0));
    expected.push_back(write(true, 234, 0));
    expected.push_back(write(true, 234, 1));
    expectFrames(expected);
    ASSERT_EQ(pauses.size(), 36u);
    for (std::size_t i = 0; i < pauses.size(); ++i) {
        EXPECT_EQ(pauses[i].first, i + 2) << "pause " << i << " follows its write";
        EXPECT_EQ(pauses[i].second, i == 34 ? 1000ms : 100ms) << "pause " << i;
    }
}

TEST_F(OffAxisResetTest, OtherOrUnreadableEncodersOnlyReadTheConfiguration) {
    for (int type : {0, 5, 255, -1}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(run(false, type), kIncompatible);
        expectFrames({readOf(motor::kGetMotorEncoderConfiguration)});
        EXPECT_TRUE(pauses.empty());
    }
}

// Fault: the reset could not be cancelled, holding its caller for 4.5 s of pauses.
TEST_F(OffAxisResetTest, ACancelDuringAPauseSendsNoFurtherWrite) {
    using kinetra::OffAxisChipState;
    struct Case {
        int type;
        int cancel_at_pause;  // 0: set before the start
        std::size_t writes;
        OffAxisChipState chip;
        const char* reason;
    };
    const Case cases[] = {
        {motor::kEncoderTypeMA7xx, 0, 0, OffAxisChipState::Unchanged, "stopped during the reset; the chip is unchanged"},
        {motor::kEncoderTypeMA7xx, 1, 1, OffAxisChipState::Cleared,
         "stopped during the reset; the chip's bias current trimming and compensation table are partly cleared, not "
         "stored"},
        {motor::kEncoderTypeMA600, 10, 10, OffAxisChipState::Cleared, "a power cycle brings back"},
        {motor::kEncoderTypeMA600, 35, 35, OffAxisChipState::Cleared, "a power cycle brings back"},  // the store's pause
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cancel_at_pause);
        EXPECT_EQ(run(false, c.type, c.cancel_at_pause), "Reset cancelled.\n");
        EXPECT_EQ(requestsTo().size(), 1 + c.writes);
        EXPECT_EQ(pauses.size(), c.writes);
        EXPECT_TRUE(result.compatible && result.cancelled);
        EXPECT_FALSE(result.completed || result.calibrated || result.stored);
        EXPECT_EQ(result.failure, kinetra::OffAxisFailure::Cancelled);
        EXPECT_EQ(result.chip, c.chip);
        EXPECT_NE(result.reason.find(c.reason), std::string::npos) << result.reason;
    }
    // Uncancelled, the same reset completes.
    EXPECT_EQ(run(false, motor::kEncoderTypeMA600), "Done.\n");
    EXPECT_TRUE(result.completed && result.stored && !result.cancelled);
    EXPECT_EQ(result.failure, kinetra::OffAxisFailure::None);
}

// Fault: on the real clock a cancel waited out the pause under way (a second for the store).
TEST_F(OffAxisResetTest, PublicCancellableResetEndsItsPauseOnCancel) {
    std::atomic<bool> cancel{true};
    kinetra::CancellablePauseClock(&cancel).sleepFor(std::chrono::hours(1));
    device->answer(motor::kGetMotorEncoderConfiguration, {motor::kEncoderTypeMA600, 0x00, 0x10, 0x00, 0x00, 0x01});
    Driver driver(kNode, &bus);
    bus.clearSent();
    kinetra::OffAxisCalibrationOptions options;
    options.cancel = &cancel;
    testing::internal::CaptureStdout();
    const kinetra::OffAxisCalibrationResult cancelled = driver.clearMAxxxOffAxisCalibration(false, options);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Reset cancelled.\n");
    EXPECT_TRUE(cancelled.compatible && cancelled.cancelled);
    EXPECT_EQ(cancelled.chip, kinetra::OffAxisChipState::Unchanged);
    expectFrames({readOf(motor::kGetMotorEncoderConfiguration)});
}

TEST_F(OffAxisResetTest, PublicOperationReportsOnStandardOutputAndReturnsOne) {
    device->answer(motor::kGetMotorEncoderConfiguration, {5});
    Driver driver(kNode, &bus);
    bus.clearSent();
    testing::internal::CaptureStdout();
    EXPECT_EQ(driver.clearMAxxxOffAxisCalibration(false), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kIncompatible);
    expectFrames({readOf(motor::kGetMotorEncoderConfiguration)});
}

}  // namespace
