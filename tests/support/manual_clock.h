#pragma once
// A procedure clock for tests: time only moves when the procedure sleeps or a
// reply wait expires, and neither blocks for long, so procedures with second-long
// pauses and 20-second reply waits run in milliseconds. Thread-safe, so a test's
// scripted device may read it from the receive thread.

#include <kinetra/procedure_clock.h>

#include <chrono>
#include <mutex>
#include <vector>

namespace kinetra::test {

class ManualClock final : public ProcedureClock {
public:
    /// `real_reply_wait` is how long a reply wait really blocks: long enough for a
    /// scripted reply to arrive through the receive thread, short enough for tests.
    explicit ManualClock(clock::duration real_reply_wait = std::chrono::milliseconds(50))
        : real_reply_wait_(real_reply_wait) {}

    clock::time_point now() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return now_;
    }
    void sleepFor(clock::duration duration) override {
        std::lock_guard<std::mutex> lock(mutex_);
        sleeps_.push_back(duration);
        now_ += duration;
    }
    clock::duration replyWait(clock::duration /*bound*/) override { return real_reply_wait_; }
    void replyWaitExpired(clock::duration bound) override {
        std::lock_guard<std::mutex> lock(mutex_);
        expired_waits_.push_back(bound);
        now_ += bound;
    }

    /// Moves time on without a sleep (a test standing in for work that takes time).
    void advance(clock::duration duration) {
        std::lock_guard<std::mutex> lock(mutex_);
        now_ += duration;
    }
    /// Every pause taken, in order.
    std::vector<clock::duration> sleeps() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return sleeps_;
    }
    /// The bounds of the reply waits that ended without a reply, in order.
    std::vector<clock::duration> expiredWaits() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return expired_waits_;
    }

private:
    const clock::duration real_reply_wait_;
    mutable std::mutex mutex_;
    clock::time_point now_{};
    std::vector<clock::duration> sleeps_;
    std::vector<clock::duration> expired_waits_;
};

}  // namespace kinetra::test
