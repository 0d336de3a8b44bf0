#include "kinetra_sim/adapter_link.h"

#include "kinetra_sim/bus_timing.h"

#include <algorithm>

namespace kinetra::sim {

AdapterLink::Clock::time_point AdapterLink::pass(std::size_t characters, Clock::time_point at) {
    const auto start = std::max(at, line_free_);
    line_free_ = start + serialDuration(characters, baud_);
    return line_free_ + latency_;
}

}  // namespace kinetra::sim
