// SignalWatcher on Linux: SIGINT and SIGTERM blocked in every thread and taken
// by one thread with sigwait().

#include "cli/stop_flag.h"

#include <pthread.h>
#include <signal.h>

#include <cstdlib>

namespace kinetra::cli {

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
