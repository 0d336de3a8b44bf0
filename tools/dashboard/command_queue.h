#pragma once
// The one queue every page's commands go through: the bus thread takes them one
// at a time between telemetry rounds, so that no two exchanges interleave.
// Stops jump the queue.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

namespace kinetra::dashboard {

/// How many commands may wait; a page sending more is told the bus is busy.
constexpr std::size_t kMaxQueuedCommands = 256;

class CommandQueue {
public:
    using Job = std::function<void()>;

    /// Queues `job` behind the others, or ahead of every non-urgent one when
    /// `urgent`. False when the queue is full or closed (nothing queued); an
    /// urgent job is queued even when full.
    bool push(Job job, bool urgent = false);
    /// Takes the next job, waiting at most until `deadline`; nullopt when none
    /// came or the queue was closed.
    std::optional<Job> pop(std::chrono::steady_clock::time_point deadline);
    /// Refuses further jobs and wakes the waiter; queued jobs are dropped.
    void close();
    /// The number of waiting jobs.
    std::size_t size() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Job> jobs_;
    std::size_t urgent_ = 0;  ///< how many at the front are urgent
    bool closed_ = false;
};

}  // namespace kinetra::dashboard
