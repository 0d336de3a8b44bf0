#pragma once
/// @file traffic.h
/// What the virtual adapter reports about the lines it exchanges with the host.

#include <kinetra/can_frame.h>

#include <cstddef>
#include <functional>
#include <string_view>

namespace kinetra::sim {

enum class Direction : uint8_t { FromHost, ToHost };

/// One line crossing the virtual adapter's serial side.
struct TrafficEvent {
    Direction direction;
    /// The line without its terminator (the bell stays as it is).
    std::string_view line;
    /// The frame the line carries; nullptr for command and reply lines.
    const can_frame_data* frame;
    /// Which host's adapter it crossed, from 0 (a bus may serve several hosts).
    std::size_t host = 0;
};

/// Called on the simulator's threads; must be quick and must not call back into
/// the simulator.
using TrafficObserver = std::function<void(const TrafficEvent&)>;

}  // namespace kinetra::sim
