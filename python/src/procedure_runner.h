#pragma once
// Runs a long procedure (firmware update, configuration import, calibration)
// so that Python stays responsive: the procedure runs on a thread of its own
// without the GIL, while the calling thread waits in short slices and, between
// them, delivers the procedure's progress reports, notices Ctrl-C and the
// caller's cancel event, and asks the procedure to stop through its cancel flag.
// Progress therefore reaches Python on the calling thread, never on one of the
// library's threads.

#include <kinetra/procedure_clock.h>

#include <pybind11/pybind11.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>

namespace kinetra::python {

namespace py = pybind11;

class ProcedureRunner {
public:
    /// The longest the calling thread waits without looking at Ctrl-C, the
    /// cancel event and the queued reports.
    static constexpr std::chrono::milliseconds kSlice{20};

    /// `cancel` is None or any object with `is_set()` (threading.Event,
    /// kinetra.CancelFlag); it is polled with the GIL between slices.
    explicit ProcedureRunner(py::object cancel);
    ProcedureRunner(const ProcedureRunner&) = delete;
    ProcedureRunner& operator=(const ProcedureRunner&) = delete;

    /// The flag the procedure's options point at; set once anything asks it to stop.
    const std::atomic<bool>* cancelFlag() const { return &cancel_; }

    /// The clock the procedure should use: `chosen` when the caller gave one,
    /// otherwise real time whose pauses end early once the run is cancelled.
    ProcedureClock* clock(ProcedureClock* chosen);

    /// Queues `call` for the calling thread; called on the procedure's thread.
    /// A `mergeable` call (a report between a stage's first and last) replaces
    /// the previous one of the same `series` still waiting, so a slow callback
    /// sees the latest numbers rather than a growing backlog.
    void post(int series, bool mergeable, std::function<void()> call);

    /// Runs `work` on a thread of its own and returns once it has ended. Must be
    /// called with the GIL held. Raises KeyboardInterrupt (or what another
    /// signal handler raised) when a signal arrived, and what a queued call
    /// raised (which also cancels the run), in both cases after the work ended;
    /// rethrows what `work` threw. The wait after a cancel lasts as long as the
    /// procedure takes to reach its next check, which its own reply bounds limit.
    void run(const std::function<void()>& work);

private:
    /// Real time, with pauses that end as soon as the run is cancelled.
    class PausingClock : public ProcedureClock {
    public:
        explicit PausingClock(ProcedureRunner& runner) : runner_(runner) {}
        clock::time_point now() override { return clock::now(); }
        void sleepFor(clock::duration duration) override;

    private:
        ProcedureRunner& runner_;
    };

    struct Pending {
        int series;
        bool mergeable;
        std::function<void()> call;
    };

    /// Sets the flag and wakes a pause; any thread.
    void cancel();
    /// Delivers `batch` with the GIL held; the first exception cancels the run.
    void deliver(std::deque<Pending>& batch);
    /// Looks at signals and the cancel event with the GIL held.
    void watch();

    py::object cancel_event_;
    std::atomic<bool> cancel_{false};
    bool by_event_ = false;  // the event was seen set (or could not be asked): not asked again
    std::exception_ptr raised_;  // what Python raised; rethrown with the GIL

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Pending> queue_;
    bool done_ = false;
    PausingClock pausing_{*this};
};

}  // namespace kinetra::python
