#pragma once
// Real time whose pauses a cancel flag ends early, for a procedure the caller
// gave a cancel flag but no clock. A flag offers no wake-up, so a pause looks at
// it every few tens of milliseconds instead of sleeping through a whole second.

#include <kinetra/procedure_clock.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace kinetra {

class CancellablePauseClock final : public ProcedureClock {
public:
    /// `cancel` may be null: the pauses are then whole.
    explicit CancellablePauseClock(const std::atomic<bool>* cancel) : cancel_(cancel) {}

    clock::time_point now() override { return clock::now(); }

    void sleepFor(clock::duration duration) override {
        const clock::time_point end = clock::now() + duration;
        for (;;) {
            if (cancel_ != nullptr && cancel_->load()) return;
            const clock::duration left = end - clock::now();
            if (left <= clock::duration::zero()) return;
            std::this_thread::sleep_for(std::min<clock::duration>(left, kWatchSlice));
        }
    }

private:
    static constexpr std::chrono::milliseconds kWatchSlice{20};
    const std::atomic<bool>* cancel_;
};

}  // namespace kinetra
