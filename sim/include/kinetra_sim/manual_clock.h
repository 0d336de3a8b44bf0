#pragma once
// A procedure clock whose time moves only when the procedure pauses or a reply
// wait expires, so an update, an import or a calibration with seconds of pauses
// and 20-second reply waits runs in milliseconds against the simulator. A reply
// wait still really blocks, at most `real_reply_wait`, so that a simulated reply
// has time to arrive through the receive thread. Thread-safe: a scripted device
// may read it from the receive thread.

#include <kinetra/procedure_clock.h>

#include <chrono>
#include <mutex>
#include <vector>

namespace kinetra::sim {

class ManualClock final : public ProcedureClock {
public:
    /// `real_reply_wait` bounds how long a reply wait really blocks.
    explicit ManualClock(clock::duration real_reply_wait = std::chrono::milliseconds(50));

    /// The manual time: the pauses, expired waits and advances so far.
    clock::time_point now() override;
    /// Records the pause and moves time on by it, without blocking.
    void sleepFor(clock::duration duration) override;
    /// The shorter of `bound` and the real reply wait.
    clock::duration replyWait(clock::duration bound) override;
    /// Records the expired wait and moves time on by its whole bound.
    void replyWaitExpired(clock::duration bound) override;

    /// Moves time on without a pause (standing in for work that takes time).
    void advance(clock::duration duration);
    /// Every pause taken, in order.
    std::vector<clock::duration> sleeps() const;
    /// The bounds of the reply waits that ended without a reply, in order.
    std::vector<clock::duration> expiredWaits() const;

private:
    const clock::duration real_reply_wait_;
    mutable std::mutex mutex_;
    clock::time_point now_{};
    std::vector<clock::duration> sleeps_;
    std::vector<clock::duration> expired_waits_;
};

}  // namespace kinetra::sim
