#include "kinetra_sim/adapter_link.h"
#include "kinetra_sim/bus_arbiter.h"
#include "kinetra_sim/bus_timing.h"

#include <gtest/gtest.h>

#include <vector>

namespace kinetra::sim {
namespace {

using namespace std::chrono_literals;
using Clock = BusArbiter::Clock;

constexpr uint32_t kExt = 1u << 31;
constexpr uint32_t kRtr = 1u << 30;

can_frame_data frame(uint32_t id, uint8_t dlc) {
    can_frame_data f{};
    f.can_id = id;
    f.can_dlc = dlc;
    return f;
}

TEST(FrameTiming, EachIdentifierKindAndLengthAtTwoBitRates) {
    struct Case {
        uint32_t flags;
        uint8_t dlc;
        uint32_t bits;
    };
    // Stuffed part 34 (standard) or 54 (extended) plus the data, a quarter of it
    // again in stuff bits, 10 unstuffed tail bits and 3 of interframe space.
    const Case cases[] = {
        {0, 0, 55},          {0, 1, 65},          {0, 8, 135},         {kRtr, 8, 55},
        {kExt, 0, 80},       {kExt, 4, 120},      {kExt, 8, 160},      {kExt | kRtr, 8, 80},
        {kExt, 15, 160},  // a DLC above 8 still carries eight bytes
    };
    for (const Case& c : cases) {
        const can_frame_data f = frame(c.flags | 0x123, c.dlc);
        SCOPED_TRACE(testing::Message() << "flags " << std::hex << c.flags << std::dec << " dlc " << int(c.dlc));
        EXPECT_EQ(frameBits(f), c.bits);
        EXPECT_EQ(frameDuration(f, bitRateOf(CAN_BAUD_1M)), std::chrono::microseconds(c.bits));
        EXPECT_EQ(frameDuration(f, bitRateOf(CAN_BAUD_125K)), std::chrono::microseconds(8 * c.bits));
    }
}

TEST(FrameTiming, SerialLineCostsTenBitsPerCharacterUnlessUnlimited) {
    EXPECT_EQ(lineLength(frame(kExt | kRtr | 0x1ABCDE01, 8)), 27u);
    EXPECT_EQ(serialDuration(27, 115200), std::chrono::nanoseconds(2'343'750));
    EXPECT_EQ(serialDuration(27, 0), 0ns);
}

TEST(AdapterLink, AddsTheLatencyAndQueuesLinesOnTheSerialLine) {
    const Clock::time_point t0{};
    AdapterLink unlimited(1000us, 0);
    EXPECT_EQ(unlimited.pass(27, t0), t0 + 1ms);
    EXPECT_EQ(unlimited.pass(27, t0), t0 + 1ms);  // lines overlap: only the latency counts

    AdapterLink uart(500us, 115200);
    const auto line = serialDuration(27, 115200);
    EXPECT_EQ(uart.pass(27, t0), t0 + line + 500us);
    // Handed over together: the second waits for the first to leave the line.
    EXPECT_EQ(uart.pass(27, t0), t0 + 2 * line + 500us);
    // Handed over after the line went idle: no wait.
    EXPECT_EQ(uart.pass(27, t0 + 1s), t0 + 1s + line + 500us);
}

TEST(BusArbiter, LowestIdentifierWinsAmongTheFramesReadyWhenTheBusFrees) {
    struct Case {
        const char* what;
        std::vector<can_frame_data> ready;  // all ready at once, queued in this order
        std::vector<uint32_t> order;        // the can_ids as they take the bus
    };
    const uint32_t base = 0x155u << 18;  // an extended id whose base is 0x155
    const Case cases[] = {
        {"lower id first", {frame(kExt | 0x300, 8), frame(kExt | 0x100, 8), frame(kExt | 0x200, 8)},
         {kExt | 0x100, kExt | 0x200, kExt | 0x300}},
        {"data beats remote", {frame(kExt | kRtr | 0x100, 8), frame(kExt | 0x100, 8)},
         {kExt | 0x100, kExt | kRtr | 0x100}},
        {"standard beats extended of equal base", {frame(kExt | base, 8), frame(0x155, 8)}, {0x155, kExt | base}},
        {"standard remote beats extended data of equal base",
         {frame(kExt | base, 8), frame(kRtr | 0x155, 8)},
         {kRtr | 0x155, kExt | base}},
        {"lower base beats a standard frame", {frame(0x156, 0), frame(kExt | base | 0x3FFFF, 8)},
         {kExt | base | 0x3FFFF, 0x156}},
        {"equal frames in queue order", {frame(kExt | 0x7, 1), frame(kExt | 0x7, 2)}, {kExt | 0x7, kExt | 0x7}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BusArbiter arbiter;
        const Clock::time_point t0 = Clock::time_point{} + 1s;
        for (const auto& f : c.ready) arbiter.enqueue({f, t0});
        std::vector<uint32_t> order;
        Clock::time_point wake;
        Clock::time_point previous_end = t0;
        while (auto tx = arbiter.startNext(Clock::time_point::max() - 1h, &wake)) {
            order.push_back(tx->queued.frame.can_id);
            EXPECT_EQ(tx->start, previous_end);  // back to back
            previous_end = tx->end;
        }
        EXPECT_EQ(order, c.order);
    }
}

TEST(BusArbiter, AFrameReadyLaterWaitsAndOneReadyWhileTheBusIsBusyContendsWhenItFrees) {
    BusArbiter arbiter;
    const Clock::time_point t0 = Clock::time_point{} + 1s;
    arbiter.enqueue({frame(kExt | 0x500, 8), t0});
    Clock::time_point wake;
    EXPECT_FALSE(arbiter.startNext(t0 - 1us, &wake));
    EXPECT_EQ(wake, t0);
    const auto first = arbiter.startNext(t0, &wake);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->end, t0 + 160us);
    // Both become ready while the first is on the bus: the lower id goes next,
    // the moment the bus frees, though asked later.
    arbiter.enqueue({frame(kExt | 0x400, 8), t0 + 100us});
    arbiter.enqueue({frame(kExt | 0x100, 8), t0 + 150us});
    EXPECT_FALSE(arbiter.startNext(t0 + 100us, &wake));
    EXPECT_EQ(wake, t0 + 160us);
    const auto second = arbiter.startNext(t0 + 1ms, &wake);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->queued.frame.can_id, kExt | 0x100);
    EXPECT_EQ(second->start, t0 + 160us);
    EXPECT_EQ(arbiter.queued(), 1u);
    // A frame ready after the bus went idle starts when it is ready.
    arbiter.startNext(t0 + 1ms, &wake);
    arbiter.enqueue({frame(kExt | 0x600, 0), t0 + 2ms});
    const auto late = arbiter.startNext(t0 + 3ms, &wake);
    ASSERT_TRUE(late);
    EXPECT_EQ(late->start, t0 + 2ms);
    EXPECT_FALSE(arbiter.startNext(t0 + 3ms, &wake));
    EXPECT_EQ(wake, Clock::time_point::max());
}

TEST(BusArbiter, BusLoadIsTheShareOfTheLastSecondFramesUsed) {
    BusArbiter arbiter;
    const Clock::time_point t0 = Clock::time_point{} + 10s;
    Clock::time_point wake;
    // 1000 frames of 160 us, one every millisecond: 16 % of the bus.
    for (int i = 0; i < 1000; ++i) {
        arbiter.enqueue({frame(kExt | 0x100, 8), t0 + i * 1ms});
        ASSERT_TRUE(arbiter.startNext(t0 + i * 1ms, &wake));
    }
    const Clock::time_point end = t0 + 999ms + 160us;
    EXPECT_NEAR(arbiter.busLoad(end), 16.0, 0.01);
    // Half a second later half of them have left the window; a second later all.
    EXPECT_NEAR(arbiter.busLoad(end + 500ms), 8.0, 0.1);
    EXPECT_EQ(arbiter.busLoad(end + 1s), 0.0);
    // A frame still on the bus counts only up to now.
    arbiter.enqueue({frame(kExt | 0x100, 8), end + 2s});
    ASSERT_TRUE(arbiter.startNext(end + 2s, &wake));
    EXPECT_NEAR(arbiter.busLoad(end + 2s + 80us), 0.008, 1e-6);
}

}  // namespace
}  // namespace kinetra::sim
