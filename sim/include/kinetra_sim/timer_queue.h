#pragma once
/// @file timer_queue.h
/// One thread that runs actions at their due times: the simulated bus's clock for
/// heartbeats, delayed replies, reboots and physics ticks.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace kinetra::sim {

class TimerQueue {
public:
    using Clock = std::chrono::steady_clock;
    using Action = std::function<void()>;

    TimerQueue() = default;
    /// Stops the thread; actions still queued are dropped.
    ~TimerQueue();
    TimerQueue(const TimerQueue&) = delete;
    TimerQueue& operator=(const TimerQueue&) = delete;

    /// Starts the thread; a second call does nothing.
    void start();
    /// Stops and joins the thread and drops what is queued. Must not be called
    /// from an action.
    void stop();
    /// Queues `action` to run at `at` (at once when due). Actions due at the same
    /// time run in the order they were queued. Thread-safe, callable from actions.
    void schedule(Clock::time_point at, Action action);
    /// Actions waiting to run.
    std::size_t pending() const;
    /// CPU time the thread has used; zero when it does not run.
    std::chrono::nanoseconds cpuTime() const;

private:
    void run();

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::multimap<Clock::time_point, Action> queue_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace kinetra::sim
