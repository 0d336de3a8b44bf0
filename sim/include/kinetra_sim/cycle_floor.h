#pragma once
/// @file cycle_floor.h
/// The least time a control cycle can take under the timing model of
/// bus_timing.h: a true lower bound to set a measured cycle rate against.
///
/// A cycle writes its frames to each bus's adapter in one go (commands, then
/// requests) and ends when the last reply has reached the host. Per bus, every
/// one of these chains of work must fit into the cycle, so the longest is the
/// floor:
/// - the bus carries every request and every reply one after the other, from
///   when the first request has crossed the serial line and the adapter, and the
///   last reply still has to cross them back; and so it does, from when the
///   first line written has crossed, with the commands that outrank every reply
///   in arbitration as well: written before the requests, they are ready no
///   later than the last request and win the bus before the last reply (the
///   library's commands carry device type 0, the nodes' replies their own);
/// - each read on its own: its line crosses the serial line behind the lines
///   written before it, then the adapter, its request and reply take the bus,
///   and the reply crosses the adapter and the serial line back;
/// - the serial line towards the host carries every reply line one after the
///   other, from when the earliest reply can have left the bus;
/// - over many cycles, the bus carries every frame of a cycle, commands
///   included, and the serial line towards the adapter every line the host
///   writes.
///
/// The serial line is full duplex: request lines going down and reply lines
/// coming up cross it at the same time, so no chain adds the two directions.
/// Buses with their own adapters run in parallel: a cycle over several buses
/// takes as long as its slowest bus. Frames are charged what the model charges:
/// worst-case bit stuffing, which is the bound on a real bus too but a frame
/// with fewer stuff bits is shorter there. A node's own time to answer,
/// heartbeats and the host's work are left out, as a lower bound may.

#include "kinetra_sim/bus_timing.h"

#include <kinetra/can_frame.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace kinetra::sim {

/// One frame a cycle writes: a read's request with the reply it expects, or a
/// command, which expects none.
struct CycleExchange {
    can_frame_data sent{};
    std::optional<can_frame_data> reply;
};

/// One bus of a cycle: its bit rate, its adapter's latency and serial line, and
/// the frames written to it in the order they are written.
struct CycleBus {
    uint32_t bits_per_second = 0;
    /// The adapter latency (each way) and the serial line's rate; `enabled` is ignored.
    TimingSetup timing;
    std::vector<CycleExchange> exchanges;
};

/// The least time one cycle on `bus` can take; 0 when it writes nothing.
std::chrono::nanoseconds cycleFloor(const CycleBus& bus);

/// The least time one cycle over `buses`, run in parallel, can take: the floor
/// of the slowest bus.
std::chrono::nanoseconds cycleFloor(const std::vector<CycleBus>& buses);

}  // namespace kinetra::sim
