#include "cli/stop_flag.h"

#include <pthread.h>
#include <signal.h>

#include <cstdlib>

namespace kinetra::cli {

void StopFlag::request() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requested_ = true;
    }
    cv_.notify_all();
}

bool StopFlag::requested() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requested_;
}

void StopFlag::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    requested_ = false;
}

bool StopFlag::waitFor(std::chrono::steady_clock::duration duration) {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait_for(lock, duration, [this] { return requested_ || lost_.load(); });
    return requested_;
}

void StopFlag::notify() {
    { std::lock_guard<std::mutex> lock(mutex_); }
    cv_.notify_all();
}

void StopFlag::adapterLost(const std::string& line) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lost_line_ = line;
        lost_ = true;
    }
    cv_.notify_all();
}

std::string StopFlag::lostLine() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lost_line_;
}

void StopFlag::clearLost() {
    std::lock_guard<std::mutex> lock(mutex_);
    lost_ = false;
}

namespace {
sigset_t watchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    // Only the destructor sends this one, to end the watcher's wait.
    sigaddset(&set, SIGUSR1);
    return set;
}
}  // namespace

SignalWatcher::SignalWatcher(StopFlag& stop) : stop_(stop) {
    const sigset_t set = watchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    thread_ = std::thread([this] { watch(); });
}

SignalWatcher::~SignalWatcher() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
    }
    pthread_kill(thread_.native_handle(), SIGUSR1);
    thread_.join();
}

int SignalWatcher::count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
}

void SignalWatcher::watch() {
    const sigset_t set = watchedSignals();
    for (;;) {
        int signal_number = 0;
        if (sigwait(&set, &signal_number) != 0) continue;
        std::lock_guard<std::mutex> lock(mutex_);
        if (ending_) return;
        if (signal_number == SIGUSR1) continue;
        ++count_;
        // A third Ctrl-C means the clean stop is not coming: leave at once.
        if (count_ >= 3) std::_Exit(130);
        stop_.request();
    }
}

}  // namespace kinetra::cli
