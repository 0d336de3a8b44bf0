#pragma once
/// @file bus_arbiter.h
/// The order and times in which queued frames take a CAN bus, and the bus load
/// they make. Pure: the caller passes the time in, so it can be tested without
/// a clock.

#include <kinetra/can_frame.h>
#include <kinetra/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace kinetra::sim {

class Node;
class HostPort;

class BusArbiter {
public:
    using Clock = std::chrono::steady_clock;

    /// A frame that wants the bus from `ready` on; `from` is its node, nullptr
    /// for the host.
    struct Queued {
        can_frame_data frame{};
        Clock::time_point ready{};
        CANBaudRate rate = CAN_BAUD_1M;
        Node* from = nullptr;
        uint64_t sequence = 0;
        /// The host's adapter that sent it, when `from` is nullptr (may be nullptr).
        const HostPort* host = nullptr;
    };
    /// A frame on the bus from `start` to `end`.
    struct Transmission {
        Queued queued;
        Clock::time_point start{};
        Clock::time_point end{};
    };

    /// The window over which busLoad() averages.
    static constexpr std::chrono::seconds kLoadWindow{1};

    /// Queues a frame.
    void enqueue(Queued frame);

    /// The next frame to take the bus, if it starts by `now`: it starts when the
    /// bus frees or when the first frame is ready, whichever is later, and the
    /// lowest arbitration key among the frames ready then wins (the one queued
    /// first when the keys are equal). Otherwise nullopt, and `*wake` is when to
    /// ask again (Clock::time_point::max() when nothing is queued).
    std::optional<Transmission> startNext(Clock::time_point now, Clock::time_point* wake);

    /// When the bus frees after the last frame started.
    Clock::time_point busFreeAt() const { return bus_free_; }
    /// Frames waiting for the bus.
    std::size_t queued() const { return queue_.size(); }
    /// Percent of the bit time over the window before `now` that frames used.
    double busLoad(Clock::time_point now);

private:
    std::vector<Queued> queue_;
    Clock::time_point bus_free_{};
    uint64_t next_sequence_ = 0;
    // Start and end of the frames that may still overlap the load window.
    std::deque<std::pair<Clock::time_point, Clock::time_point>> recent_;
};

}  // namespace kinetra::sim
