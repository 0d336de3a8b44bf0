#include "kinetra_sim/manual_clock.h"

#include <algorithm>

namespace kinetra::sim {

ManualClock::ManualClock(clock::duration real_reply_wait) : real_reply_wait_(real_reply_wait) {}

ManualClock::clock::time_point ManualClock::now() {
    std::lock_guard<std::mutex> lock(mutex_);
    return now_;
}

void ManualClock::sleepFor(clock::duration duration) {
    std::lock_guard<std::mutex> lock(mutex_);
    sleeps_.push_back(duration);
    now_ += duration;
}

ManualClock::clock::duration ManualClock::replyWait(clock::duration bound) {
    return std::min(bound, real_reply_wait_);
}

void ManualClock::replyWaitExpired(clock::duration bound) {
    std::lock_guard<std::mutex> lock(mutex_);
    expired_waits_.push_back(bound);
    now_ += bound;
}

void ManualClock::advance(clock::duration duration) {
    std::lock_guard<std::mutex> lock(mutex_);
    now_ += duration;
}

std::vector<ManualClock::clock::duration> ManualClock::sleeps() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sleeps_;
}

std::vector<ManualClock::clock::duration> ManualClock::expiredWaits() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return expired_waits_;
}

}  // namespace kinetra::sim
