#pragma once
// Ctrl-C for a tool with library threads: SIGINT and SIGTERM are blocked in every
// thread and taken by one watcher thread, which raises a flag that every wait of
// the tool watches.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace kinetra::cli {

/// A stop request that waits can be woken by.
class StopFlag {
public:
    /// Raises the flag and wakes every waiter.
    void request();
    bool requested() const;
    /// Lowers the flag again, for a stop the user took back (a flash asks first).
    void clear();
    /// Waits up to `duration`; true when a stop was requested (at once if it already was).
    bool waitFor(std::chrono::steady_clock::duration duration);
    /// Waits up to `duration` or until `done` holds; `done` is rechecked after notify().
    template <typename Predicate>
    bool waitUntil(std::chrono::steady_clock::duration duration, Predicate done) {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait_for(lock, duration, [&] { return requested_ || done(); });
        return done();
    }
    /// Wakes waitUntil() to recheck its predicate.
    void notify();

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool requested_ = false;
};

/// Owns the watcher thread. Construct it before any other thread starts, so that
/// all of them inherit the blocked signals.
class SignalWatcher {
public:
    explicit SignalWatcher(StopFlag& stop);
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

    /// How many stop signals have arrived.
    int count() const;

private:
    void watch();

    StopFlag& stop_;
    std::thread thread_;
    mutable std::mutex mutex_;
    int count_ = 0;
    bool ending_ = false;
};

}  // namespace kinetra::cli
