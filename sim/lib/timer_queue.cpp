#include "kinetra_sim/timer_queue.h"

#include "thread_cpu_time.h"

#include <pthread.h>
#include <sys/prctl.h>

namespace kinetra::sim {
namespace {
// An empty queue is re-examined this often; schedule() wakes the thread anyway.
constexpr auto kIdleWait = std::chrono::seconds(1);
}  // namespace

TimerQueue::~TimerQueue() { stop(); }

void TimerQueue::start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (thread_.joinable()) return;
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
}

void TimerQueue::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.clear();
}

void TimerQueue::schedule(Clock::time_point at, Action action) {
    bool earliest = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return;
        const auto inserted = queue_.emplace(at, std::move(action));
        earliest = inserted == queue_.begin();
    }
    // Only a new earliest entry changes how long the thread must sleep.
    if (earliest) changed_.notify_one();
}

std::size_t TimerQueue::pending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}

std::chrono::nanoseconds TimerQueue::cpuTime() const {
    return threadCpuTime(const_cast<std::thread&>(thread_));
}

void TimerQueue::run() {
    ::pthread_setname_np(::pthread_self(), "sim-bus-clock");
    // Wake-ups as close to their time as the kernel can: the timing model's
    // frames are 100 us apart, and the default slack is half that.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (queue_.empty()) {
            changed_.wait_for(lock, kIdleWait);
            continue;
        }
        const auto next = queue_.begin();
        if (Clock::now() < next->first) {
            changed_.wait_until(lock, next->first);
            continue;
        }
        Action action = std::move(next->second);
        queue_.erase(next);
        // Actions take node and port locks and may schedule more, so they run
        // without the queue's lock.
        lock.unlock();
        try {
            action();
        } catch (...) {
            // One failing action (a model's tick, say) must not stop the bus's clock.
        }
        lock.lock();
    }
}

}  // namespace kinetra::sim
