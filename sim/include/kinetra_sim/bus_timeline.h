#pragma once
/// @file bus_timeline.h
/// The timing model at work on the simulated bus: frames from the host cross
/// the serial line and the adapter's latency, wait for the bus and win or lose
/// arbitration; frames from the nodes do the same the other way. The frames'
/// times are kept on the model's own time line, so that a late wake-up of the
/// bus's thread delays the delivery but not the frames behind it.

#include <kinetra/can_frame.h>
#include <kinetra/types.h>

#include "kinetra_sim/adapter_link.h"
#include "kinetra_sim/bus_arbiter.h"
#include "kinetra_sim/bus_timing.h"
#include "kinetra_sim/timer_queue.h"

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

namespace kinetra::sim {

class Node;
class HostPort;

class BusTimeline {
public:
    using Clock = std::chrono::steady_clock;
    /// Called on the timer's thread when a frame has crossed the bus, with the
    /// time it left it. Runs without the timeline's lock.
    using OnBusEnd = std::function<void(const BusArbiter::Queued&, Clock::time_point)>;

    BusTimeline(TimingSetup setup, TimerQueue& timer, OnBusEnd on_bus_end);

    const TimingSetup& setup() const { return setup_; }

    /// A host line carrying `frame` reached the adapter at `now`. Each host's
    /// adapter (`host`) has a serial line of its own.
    void fromHost(const can_frame_data& frame, CANBaudRate rate, Clock::time_point now,
                  const HostPort* host = nullptr);
    /// A node wants to send `frame` from `ready` on.
    void fromNode(Node& node, const can_frame_data& frame, CANBaudRate rate, Clock::time_point ready);
    /// When a frame that left the bus at `left_bus` reaches the host behind
    /// `host`: its serial line (one line after the other) and the adapter's latency.
    Clock::time_point arrivalAtHost(const can_frame_data& frame, Clock::time_point left_bus,
                                    const HostPort* host = nullptr);

    /// Percent of the bus's bit time used over the last second.
    double busLoad();
    /// Frames waiting for the bus or on it.
    std::size_t framesQueued();

private:
    void enqueue(const BusArbiter::Queued& queued);
    void pump();
    // Holds mutex_.
    void wakeAt(Clock::time_point at);

    const TimingSetup setup_;
    TimerQueue& timer_;
    const OnBusEnd on_bus_end_;

    std::mutex mutex_;
    BusArbiter arbiter_;
    std::optional<BusArbiter::Transmission> on_bus_;
    // One serial line each way per host's adapter, made when first used.
    AdapterLink& link(std::map<const HostPort*, AdapterLink>& links, const HostPort* host);
    std::map<const HostPort*, AdapterLink> to_adapter_;
    std::map<const HostPort*, AdapterLink> to_host_;
    // The earliest pump queued on the timer and not yet run.
    Clock::time_point next_wake_ = Clock::time_point::max();
};

}  // namespace kinetra::sim
