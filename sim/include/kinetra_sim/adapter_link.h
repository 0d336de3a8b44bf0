#pragma once
/// @file adapter_link.h
/// One direction through the adapter: lines follow each other on the serial line
/// at its rate, then wait out the adapter's latency. Pure: times are passed in.

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace kinetra::sim {

class AdapterLink {
public:
    using Clock = std::chrono::steady_clock;

    /// `baud` 0 is an unlimited serial rate.
    AdapterLink(std::chrono::microseconds latency, uint32_t baud) : latency_(latency), baud_(baud) {}

    /// When a line of `characters` handed over at `at` comes out at the far end.
    Clock::time_point pass(std::size_t characters, Clock::time_point at);

private:
    const std::chrono::microseconds latency_;
    const uint32_t baud_;
    Clock::time_point line_free_{};
};

}  // namespace kinetra::sim
