#include "kinetra_sim/cycle_floor.h"

#include <algorithm>
#include <cstdint>

namespace kinetra::sim {

std::chrono::nanoseconds cycleFloor(const CycleBus& bus) {
    using std::chrono::nanoseconds;
    const nanoseconds latency = bus.timing.adapter_latency;
    const uint32_t baud = bus.timing.serial_baud;
    const auto onBus = [&](const can_frame_data& frame) { return frameDuration(frame, bus.bits_per_second); };
    const auto onLine = [&](const can_frame_data& frame) { return serialDuration(lineLength(frame), baud); };

    nanoseconds written{0};          // the lines written so far, across the serial line
    nanoseconds all_frames{0};       // every frame of the cycle on the bus
    nanoseconds read_frames{0};      // the reads' requests and replies on the bus
    nanoseconds reply_lines{0};      // the reply lines towards the host
    std::optional<nanoseconds> first_request;  // when the first request can be on the bus
    nanoseconds shortest_exchange = nanoseconds::max();
    nanoseconds shortest_reply_line = nanoseconds::max();
    nanoseconds one_read{0};  // the longest chain of a single read

    for (const CycleExchange& exchange : bus.exchanges) {
        written += onLine(exchange.sent);
        all_frames += onBus(exchange.sent);
        if (!exchange.reply) continue;
        const nanoseconds round = onBus(exchange.sent) + onBus(*exchange.reply);
        const nanoseconds reply_line = onLine(*exchange.reply);
        all_frames += onBus(*exchange.reply);
        read_frames += round;
        reply_lines += reply_line;
        if (!first_request) first_request = written + latency;
        shortest_exchange = std::min(shortest_exchange, round);
        shortest_reply_line = std::min(shortest_reply_line, reply_line);
        one_read = std::max(one_read, written + latency + round + reply_line + latency);
    }

    // Commands that outrank every reply in arbitration are ready no later than the
    // last request (they are written before the requests), so they win the bus
    // before the last reply: the bus carries them inside the cycle too.
    uint32_t lowest_reply_key = UINT32_MAX;
    for (const CycleExchange& exchange : bus.exchanges) {
        if (exchange.reply) lowest_reply_key = std::min(lowest_reply_key, arbitrationKey(*exchange.reply));
    }
    nanoseconds commands_first{0};
    for (const CycleExchange& exchange : bus.exchanges) {
        if (!exchange.reply && arbitrationKey(exchange.sent) < lowest_reply_key) commands_first += onBus(exchange.sent);
    }

    nanoseconds floor = std::max(all_frames, written);
    if (first_request) {
        // From when the first line written can be on the bus.
        const nanoseconds first_on_bus = onLine(bus.exchanges.front().sent) + latency;
        const nanoseconds bus_chain =
            std::max(*first_request + read_frames, first_on_bus + commands_first + read_frames) +
            shortest_reply_line + latency;
        const nanoseconds uplink_chain = *first_request + shortest_exchange + reply_lines + latency;
        floor = std::max({floor, one_read, bus_chain, uplink_chain});
    }
    return floor;
}

std::chrono::nanoseconds cycleFloor(const std::vector<CycleBus>& buses) {
    std::chrono::nanoseconds slowest{0};
    for (const CycleBus& bus : buses) slowest = std::max(slowest, cycleFloor(bus));
    return slowest;
}

}  // namespace kinetra::sim
