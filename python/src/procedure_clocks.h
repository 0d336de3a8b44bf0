#pragma once
// Clocks for the long procedures from Python: a ProcedureClock whose methods a
// Python subclass provides, and a manual clock whose time moves only with the
// procedure's pauses, so an update's seconds of pauses take no time at all.

#include <kinetra/procedure_clock.h>

#include <mutex>
#include <vector>

namespace kinetra::python {

/// Calls the Python subclass's now(), sleepFor(seconds), replyWait(bound) and
/// replyWaitExpired(bound), all in seconds, with the GIL taken. A method the
/// subclass lacks behaves as the system clock's; one that raises is reported as
/// unraisable and does the same.
class PythonProcedureClock : public ProcedureClock {
public:
    clock::time_point now() override;
    void sleepFor(clock::duration duration) override;
    clock::duration replyWait(clock::duration bound) override;
    void replyWaitExpired(clock::duration bound) override;
};

/// Time moves only when the procedure pauses, when a reply wait expires, or by
/// advance(); a reply wait really blocks `reply_wait` at most. Thread-safe.
class ManualClock final : public ProcedureClock {
public:
    explicit ManualClock(clock::duration reply_wait) : reply_wait_(reply_wait) {}

    clock::time_point now() override;
    void sleepFor(clock::duration duration) override;
    clock::duration replyWait(clock::duration bound) override;
    void replyWaitExpired(clock::duration bound) override;

    void advance(clock::duration duration);
    std::vector<clock::duration> sleeps() const;
    std::vector<clock::duration> expiredWaits() const;

private:
    const clock::duration reply_wait_;
    mutable std::mutex mutex_;
    clock::time_point now_{};
    std::vector<clock::duration> sleeps_;
    std::vector<clock::duration> expired_waits_;
};

}  // namespace kinetra::python
