#pragma once
// Ctrl-C for a tool with library threads: SIGINT and SIGTERM are blocked in every
// thread and taken by one watcher thread, which raises a flag that every wait of
// the tool watches.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
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
    /// Waits up to `duration`, ending early when a stop was requested or the
    /// adapter was lost; true when a stop was requested.
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

    /// Records that the adapter went away, with the line that says so, and wakes
    /// every waiter: a lost adapter ends a run as a stop does, with its own exit.
    void adapterLost(const std::string& line);
    /// Whether the adapter was lost (and not found again since).
    bool lost() const { return lost_.load(); }
    /// The line that adapterLost() recorded.
    std::string lostLine() const;
    /// Forgets the loss once the adapter is back.
    void clearLost();

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool requested_ = false;
    /// Atomic so that a waitUntil() predicate may read it under the lock.
    std::atomic<bool> lost_{false};
    std::string lost_line_;
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
