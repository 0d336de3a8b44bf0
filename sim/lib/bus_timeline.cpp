#include "kinetra_sim/bus_timeline.h"

#include <algorithm>

namespace kinetra::sim {

BusTimeline::BusTimeline(TimingSetup setup, TimerQueue& timer, OnBusEnd on_bus_end)
    : setup_(setup), timer_(timer), on_bus_end_(std::move(on_bus_end)) {}

AdapterLink& BusTimeline::link(std::map<const HostPort*, AdapterLink>& links, const HostPort* host) {
    return links.try_emplace(host, setup_.adapter_latency, setup_.serial_baud).first->second;
}

void BusTimeline::fromHost(const can_frame_data& frame, CANBaudRate rate, Clock::time_point now,
                           const HostPort* host) {
    Clock::time_point ready;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ready = link(to_adapter_, host).pass(lineLength(frame), now);
    }
    enqueue(BusArbiter::Queued{frame, ready, rate, nullptr, 0, host});
}

void BusTimeline::fromNode(Node& node, const can_frame_data& frame, CANBaudRate rate, Clock::time_point ready) {
    enqueue(BusArbiter::Queued{frame, ready, rate, &node, 0});
}

BusTimeline::Clock::time_point BusTimeline::arrivalAtHost(const can_frame_data& frame, Clock::time_point left_bus,
                                                          const HostPort* host) {
    std::lock_guard<std::mutex> lock(mutex_);
    return link(to_host_, host).pass(lineLength(frame), left_bus);
}

double BusTimeline::busLoad() {
    std::lock_guard<std::mutex> lock(mutex_);
    return arbiter_.busLoad(Clock::now());
}

std::size_t BusTimeline::framesQueued() {
    std::lock_guard<std::mutex> lock(mutex_);
    return arbiter_.queued() + (on_bus_ ? 1 : 0);
}

void BusTimeline::enqueue(const BusArbiter::Queued& queued) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        arbiter_.enqueue(queued);
        wakeAt(queued.ready);
    }
}

void BusTimeline::wakeAt(Clock::time_point at) {
    // A wake-up already due by then serves as well: the pump looks again itself.
    if (at >= next_wake_) return;
    next_wake_ = at;
    timer_.schedule(at, [this] { pump(); });
}

// Runs on the timer's thread only, so frames leave the bus in one order.
void BusTimeline::pump() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (Clock::now() >= next_wake_) next_wake_ = Clock::time_point::max();
    for (;;) {
        const auto now = Clock::now();
        if (on_bus_) {
            if (on_bus_->end > now) {
                wakeAt(on_bus_->end);
                return;
            }
            const BusArbiter::Transmission done = *on_bus_;
            on_bus_.reset();
            // Delivery calls into nodes, which may queue their replies here.
            lock.unlock();
            on_bus_end_(done.queued, done.end);
            lock.lock();
            continue;
        }
        Clock::time_point wake;
        on_bus_ = arbiter_.startNext(now, &wake);
        if (!on_bus_) {
            if (wake != Clock::time_point::max()) wakeAt(wake);
            return;
        }
    }
}

}  // namespace kinetra::sim
