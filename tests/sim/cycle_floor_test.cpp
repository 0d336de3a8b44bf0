#include "kinetra_sim/cycle_floor.h"

#include <gtest/gtest.h>

#include <vector>

// Named rather than anonymous: files of this directory share a translation unit
// in batched builds.
namespace cycle_floors {

using namespace std::chrono_literals;
using kinetra::sim::CycleBus;
using kinetra::sim::CycleExchange;
using kinetra::sim::cycleFloor;

constexpr uint32_t kExt = 1u << 31;
constexpr uint32_t kRtr = 1u << 30;

can_frame_data frameOf(uint32_t flags, uint8_t dlc) {
    can_frame_data f{};
    f.can_id = flags | 0x1ABCDE;
    f.can_dlc = dlc;
    return f;
}

// The frames, as the model charges them (worst-case stuffing, see bus_timing.h):
// - a query: extended remote, DLC 8: 54 + 54/4 = 67 stuffed, + 13 = 80 bits;
//   its line "R" + 8 id + DLC + 16 data digits + CR = 27 characters;
// - a query with DLC 0: 80 bits too; its line "R" + 8 + DLC + CR = 11 characters;
// - a reply or a command with 8 bytes: 118 + 29 + 13 = 160 bits; line 27 characters;
// - a reply with 4 bytes: 86 + 21 + 13 = 120 bits; line 1 + 8 + 1 + 8 + 1 = 19 characters.
// At 500 kbit/s a bit is 2 us, at 125 kbit/s 8 us. At 100000 baud a character
// (8N1, 10 bits) is 100 us; at 115200 baud 27 characters are 2343.75 us.
const can_frame_data kQuery = frameOf(kExt | kRtr, 8);
const can_frame_data kShortQuery = frameOf(kExt | kRtr, 0);
const can_frame_data kReply8 = frameOf(kExt, 8);
const can_frame_data kReply4 = frameOf(kExt, 4);
const can_frame_data kCommand = frameOf(kExt, 8);

CycleBus busOf(uint32_t bits_per_second, uint32_t baud, std::vector<CycleExchange> exchanges) {
    CycleBus bus;
    bus.bits_per_second = bits_per_second;
    bus.timing.adapter_latency = 1000us;
    bus.timing.serial_baud = baud;
    bus.exchanges = std::move(exchanges);
    return bus;
}

std::vector<CycleExchange> reads(unsigned count, const can_frame_data& query, const can_frame_data& reply) {
    return std::vector<CycleExchange>(count, CycleExchange{query, reply});
}

std::vector<CycleExchange> commandsThenReads(unsigned commands, unsigned count) {
    std::vector<CycleExchange> exchanges(commands, CycleExchange{kCommand, std::nullopt});
    for (const auto& read : reads(count, kQuery, kReply8)) exchanges.push_back(read);
    return exchanges;
}

// Commands with a lower identifier than every reply (as the host's, device type
// 0, against the nodes' replies), followed by reads.
std::vector<CycleExchange> outrankingCommandsThenReads(unsigned commands, unsigned count) {
    std::vector<CycleExchange> exchanges = commandsThenReads(commands, count);
    for (CycleExchange& exchange : exchanges) {
        if (!exchange.reply) exchange.sent.can_id = kExt | 0x00ABCD;
    }
    return exchanges;
}

// The old floor charged 1 Mbit/s on a 500 kbit/s bus, and added request and
// reply line times as if the serial line carried one direction at a time.
TEST(CycleFloor, IsTheLongestChainOfWorkAgainstHandComputedValues) {
    struct Case {
        const char* what;
        CycleBus bus;
        std::chrono::nanoseconds floor;
    };
    const Case cases[] = {
        // Latency down 1000, query 160, reply 320, latency up 1000.
        {"one read, 500 kbit/s, unlimited line", busOf(500000, 0, reads(1, kQuery, kReply8)), 2480us},
        // The benchmark's cycle. Bus: 1000 + 6 x (160 + 320) + 1000 = 4880
        // (at 1 Mbit/s it would be 1000 + 6 x 240 + 1000 = 3440).
        {"six reads, 500 kbit/s, unlimited line", busOf(500000, 0, reads(6, kQuery, kReply8)), 4880us},
        // Bus: 1000 + 2343.75 + 2880 + 2343.75 + 1000 = 9567.5. Last read:
        // 6 x 2343.75 down + 1000 + 480 + 2343.75 up + 1000 = 18886.25; the line
        // up: 1000 + 2343.75 + 480 + 6 x 2343.75 + 1000 = 18886.25. Adding both
        // directions would give 2000 + 6 x (480 + 2 x 2343.75) = 33005.
        {"six reads, 500 kbit/s, 115200 baud", busOf(500000, 115200, reads(6, kQuery, kReply8)), 18886250ns},
        // Bus bound: 1000 + 6 x (640 + 1280) + 1000 = 13520.
        {"six reads, 125 kbit/s, unlimited line", busOf(125000, 0, reads(6, kQuery, kReply8)), 13520us},
        // Reads of 160 + 240 = 400 on the bus. Bus: 1000 + 2700 + 1600 + 1900 +
        // 1000 = 8200; line up: 1000 + 2700 + 400 + 4 x 1900 + 1000 = 12700; the
        // last read: 4 x 2700 + 1000 + 400 + 1900 + 1000 = 15100, the floor.
        {"long requests: the line down bounds", busOf(500000, 100000, reads(4, kQuery, kReply4)), 15100us},
        // Reads of 160 + 320 = 480. Bus: 1000 + 1100 + 1920 + 2700 + 1000 = 7720;
        // last read: 4 x 1100 + 1000 + 480 + 2700 + 1000 = 9580; line up:
        // 1000 + 1100 + 480 + 4 x 2700 + 1000 = 14380, the floor.
        {"long replies: the line up bounds", busOf(500000, 100000, reads(4, kShortQuery, kReply8)), 14380us},
        // Commands need no reply; the reads' chain: 1000 + 2 x 480 + 1000 = 2960
        // (all frames: 2 x 320 + 2 x 480 = 1600).
        {"commands first, unlimited line", busOf(500000, 0, commandsThenReads(2, 2)), 2960us},
        // Commands' lines go first: the first query is across at 3 x 2700 + 1000 =
        // 9100. Bus: 9100 + 960 + 2700 + 1000 = 13760; last read: 4 x 2700 +
        // 1000 + 480 + 2700 + 1000 = 15980; line up: 9100 + 480 + 2 x 2700 +
        // 1000 = 15980.
        {"commands first, 100000 baud", busOf(500000, 100000, commandsThenReads(2, 2)), 15980us},
        // Commands that outrank the replies win the bus before the last reply:
        // 1000 + 2 x 320 + 2 x 480 + 1000 = 3600.
        {"commands outranking the replies, unlimited line", busOf(500000, 0, outrankingCommandsThenReads(2, 2)),
         3600us},
        // As the commands first at 100000 baud above: the line chains still bound
        // (the bus: 2700 + 1000 + 640 + 960 + 2700 + 1000 = 9000).
        {"commands outranking the replies, 100000 baud", busOf(500000, 100000, outrankingCommandsThenReads(2, 2)),
         15980us},
        // Only commands: over many cycles the bus carries 3 x 320 = 960 ...
        {"commands only, unlimited line", busOf(500000, 0, commandsThenReads(3, 0)), 960us},
        // ... and the line down 3 x 2700 = 8100.
        {"commands only, 100000 baud", busOf(500000, 100000, commandsThenReads(3, 0)), 8100us},
        {"nothing written", busOf(500000, 115200, {}), 0ns},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(cycleFloor(c.bus), c.floor);
    }
}

TEST(CycleFloor, BusesInParallelTakeAsLongAsTheSlowest) {
    const std::vector<CycleBus> buses = {busOf(500000, 0, reads(1, kQuery, kReply8)),
                                         busOf(125000, 0, reads(6, kQuery, kReply8)),
                                         busOf(500000, 0, reads(6, kQuery, kReply8))};
    // 2480, 13520 and 4880 as above.
    EXPECT_EQ(cycleFloor(buses), 13520us);
    EXPECT_EQ(cycleFloor(std::vector<CycleBus>{}), 0ns);
}

}  // namespace cycle_floors
