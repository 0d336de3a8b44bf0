#pragma once
// A stop request that sleeping threads can wait on: a worker that pauses between
// passes wakes at once when the interface closes, instead of finishing its sleep.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace kinetra {

class StopSignal {
public:
    /// Clears the request before new workers start.
    void reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        requested_.store(false);
    }
    /// Asks every worker to end and wakes the sleeping ones.
    void request() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requested_.store(true);
        }
        cv_.notify_all();
    }
    /// Whether a stop was requested.
    bool requested() const { return requested_.load(); }
    /// Sleeps for `duration` or until a stop is requested; true when stopped.
    template <typename Rep, typename Period>
    bool waitFor(std::chrono::duration<Rep, Period> duration) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, duration, [this] { return requested_.load(); });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::atomic<bool> requested_{false};
};

}  // namespace kinetra
