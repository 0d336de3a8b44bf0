#pragma once
// Makes a missed wake-up show every time rather than once in a great while. The
// notifying thread shares one CPU with the waiting test thread, and the waiter
// outranks it: real-time priority for the waiter where the system allows it,
// else idle priority for the notifier. The notifier then runs only while the
// waiter sleeps, and the waiter, once woken, preempts it at once. A notification
// sent before the state it announces is stored wakes the waiter to find nothing;
// it sleeps again, and nothing wakes it before its deadline. A value stored
// after the notification is read stale for the same reason. (With idle priority
// a busy CPU can hold the notifier back for a while: bound the waits loosely.)

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

namespace kinetra::test {

class StarvedNotifier {
public:
    /// Pins the calling thread to its first CPU and starts the notifying thread
    /// on the same CPU at idle priority; `notify` runs there once per kick().
    explicit StarvedNotifier(std::function<void()> notify) : notify_(std::move(notify)) {
        CPU_ZERO(&original_);
        pthread_getaffinity_np(pthread_self(), sizeof original_, &original_);
        CPU_ZERO(&one_);
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (CPU_ISSET(cpu, &original_)) {
                CPU_SET(cpu, &one_);
                break;
            }
        }
        pthread_setaffinity_np(pthread_self(), sizeof one_, &one_);
        pthread_getschedparam(pthread_self(), &original_policy_, &original_param_);
        sched_param realtime{};
        realtime.sched_priority = 1;
        waiter_realtime_ = pthread_setschedparam(pthread_self(), SCHED_FIFO, &realtime) == 0;
        thread_ = std::thread([this] { run(); });
    }
    /// Ends the thread and gives the caller its CPUs back.
    ~StarvedNotifier() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        cv_.notify_all();
        thread_.join();
        pthread_setschedparam(pthread_self(), original_policy_, &original_param_);
        pthread_setaffinity_np(pthread_self(), sizeof original_, &original_);
    }
    StarvedNotifier(const StarvedNotifier&) = delete;
    StarvedNotifier& operator=(const StarvedNotifier&) = delete;

    /// Lets `notify` run once; it starts when the caller next blocks.
    void kick() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++pending_;
        }
        cv_.notify_all();
    }

private:
    void run() {
        pthread_setaffinity_np(pthread_self(), sizeof one_, &one_);
        sched_param none{};
        if (waiter_realtime_) {
            // A new thread inherits its creator's real-time priority: drop it.
            pthread_setschedparam(pthread_self(), SCHED_OTHER, &none);
        } else if (pthread_setschedparam(pthread_self(), SCHED_IDLE, &none) != 0) {
            (void)nice(19);  // the lowest priority still makes a miss likely
        }
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            cv_.wait(lock, [this] { return stop_ || pending_ > 0; });
            if (stop_) return;
            --pending_;
            lock.unlock();
            notify_();
            lock.lock();
        }
    }

    std::function<void()> notify_;
    cpu_set_t original_;
    cpu_set_t one_;
    int original_policy_ = SCHED_OTHER;
    sched_param original_param_{};
    bool waiter_realtime_ = false;
    std::mutex mutex_;
    std::condition_variable cv_;
    int pending_ = 0;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace kinetra::test
