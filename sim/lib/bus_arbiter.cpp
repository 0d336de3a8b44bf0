#include "kinetra_sim/bus_arbiter.h"

#include "kinetra_sim/bus_timing.h"

#include <algorithm>

namespace kinetra::sim {

void BusArbiter::enqueue(Queued frame) {
    frame.sequence = next_sequence_++;
    queue_.push_back(frame);
}

std::optional<BusArbiter::Transmission> BusArbiter::startNext(Clock::time_point now, Clock::time_point* wake) {
    *wake = Clock::time_point::max();
    if (queue_.empty()) return std::nullopt;
    Clock::time_point first_ready = Clock::time_point::max();
    for (const Queued& q : queue_) first_ready = std::min(first_ready, q.ready);
    const Clock::time_point start = std::max(bus_free_, first_ready);
    if (start > now) {
        *wake = start;
        return std::nullopt;
    }
    auto winner = queue_.end();
    for (auto it = queue_.begin(); it != queue_.end(); ++it) {
        if (it->ready > start) continue;
        if (winner == queue_.end()) {
            winner = it;
            continue;
        }
        const uint32_t key = arbitrationKey(it->frame);
        const uint32_t best = arbitrationKey(winner->frame);
        if (key < best || (key == best && it->sequence < winner->sequence)) winner = it;
    }
    Transmission tx{*winner, start, start + frameDuration(winner->frame, bitRateOf(winner->rate))};
    queue_.erase(winner);
    bus_free_ = tx.end;
    while (!recent_.empty() && recent_.front().second <= tx.start - kLoadWindow) recent_.pop_front();
    recent_.emplace_back(tx.start, tx.end);
    return tx;
}

double BusArbiter::busLoad(Clock::time_point now) {
    const Clock::time_point from = now - kLoadWindow;
    while (!recent_.empty() && recent_.front().second <= from) recent_.pop_front();
    Clock::duration busy{0};
    for (const auto& [start, end] : recent_) {
        const auto a = std::max(start, from);
        const auto b = std::min(end, now);
        if (b > a) busy += b - a;
    }
    return 100.0 * std::chrono::duration<double>(busy).count() /
           std::chrono::duration<double>(kLoadWindow).count();
}

}  // namespace kinetra::sim
