#include "cli/stop_flag.h"

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

}  // namespace kinetra::cli
