#include "dashboard/command_queue.h"

#include <utility>

namespace kinetra::dashboard {

bool CommandQueue::push(Job job, bool urgent) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_ || (!urgent && jobs_.size() >= kMaxQueuedCommands)) return false;
        if (urgent) {
            // Behind the stops already waiting, ahead of everything else.
            jobs_.insert(jobs_.begin() + static_cast<std::ptrdiff_t>(urgent_), std::move(job));
            ++urgent_;
        } else {
            jobs_.push_back(std::move(job));
        }
    }
    cv_.notify_one();
    return true;
}

std::optional<CommandQueue::Job> CommandQueue::pop(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!cv_.wait_until(lock, deadline, [&] { return closed_ || !jobs_.empty(); }) || closed_) return std::nullopt;
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    if (urgent_ > 0) --urgent_;
    return job;
}

void CommandQueue::close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        jobs_.clear();
        urgent_ = 0;
    }
    cv_.notify_all();
}

std::size_t CommandQueue::size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return jobs_.size();
}

}  // namespace kinetra::dashboard
