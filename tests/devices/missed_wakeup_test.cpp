// The hand-offs from the receive thread to a waiting caller: the caller must be
// woken with the reply already stored. The notifier runs starved beside the
// waiter, so a wake-up sent before the store is missed in every round (the
// wait then runs to its far deadline) and a value stored late is read stale.

#include "devices/protocol/motor_controller_protocol.h"
#include "devices/protocol/payload.h"
#include "devices/query_engine.h"
#include "flash/flash_replies.h"
#include "interface/log_sink.h"
#include "support/starved_notifier.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace motor = kinetra::protocol::motor;

// A missed wake-up shows as a round as long as the deadline; a notifier that a
// busy CPU holds back stays well below the bound.
constexpr auto kWaitDeadline = 10s;
constexpr auto kHangBound = 8s;
constexpr int kRounds = 5;

struct HandOff {
    const char* name;
    std::function<void(int round)> arm;     // on the waiting thread, before the notifier is let go
    std::function<void(int round)> notify;  // on the starved thread
    std::function<void(int round)> wait;    // on the waiting thread: waits and checks the value
};

can_frame_data replyOfRound(int round) {
    can_frame_data frame{};
    frame.can_id = kinetra::protocol::nodeFrameId(5, motor::kGetBusVoltageCurrent, 1);
    frame.can_dlc = 8;
    kinetra::protocol::PayloadWriter(frame).put(static_cast<float>(round) + 0.5f).put(static_cast<float>(-round));
    return frame;
}

TEST(WakeUpHandOff, TheWokenWaiterFindsTheValueOfItsOwnRound) {
    kinetra::LogSink log;
    kinetra::QueryEngine<kinetra::reply_value> engine(log, kinetra::ValueLogging::All);
    const kinetra::protocol::ReplyLayout& layout = *motor::kDriverRoutes.find(motor::kGetBusVoltageCurrent);
    kinetra::FlashReplies flash;
    constexpr uint32_t kFlashId = 0x31;

    const HandOff hand_offs[] = {
        {"query reply",
         [&](int) { engine.arm(motor::kGetBusVoltageCurrent); },
         [&](int round) { engine.getDataCallback(replyOfRound(round), motor::kGetBusVoltageCurrent, layout); },
         [&](int round) {
             float voltage = -1.0f;
             float current = -1.0f;
             EXPECT_EQ(engine.collect(Clock::now() + kWaitDeadline, &voltage, &current), RET_OK);
             EXPECT_EQ(voltage, static_cast<float>(round) + 0.5f);
             EXPECT_EQ(current, static_cast<float>(-round));
             engine.disarm();
         }},
        {"bootloader reply",
         [&](int) { flash.arm(kFlashId); },
         [&](int round) {
             can_frame_data frame{};
             frame.can_id = kFlashId;
             frame.can_dlc = 1;
             frame.data[0] = static_cast<uint8_t>(round);
             flash.deliver(frame);
         },
         [&](int round) {
             can_frame_data frame{};
             ASSERT_TRUE(flash.next(kWaitDeadline, frame));
             EXPECT_EQ(frame.data[0], round);
             flash.disarm();
         }},
    };
    for (const HandOff& hand_off : hand_offs) {
        SCOPED_TRACE(hand_off.name);
        int round = 0;
        kinetra::test::StarvedNotifier notifier([&] { hand_off.notify(round); });
        for (; round < kRounds; ++round) {
            hand_off.arm(round);
            notifier.kick();
            const auto started = Clock::now();
            hand_off.wait(round);
            ASSERT_LT(Clock::now() - started, kHangBound) << "round " << round << " slept through its wake-up";
        }
    }
}

}  // namespace
