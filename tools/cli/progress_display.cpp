#include "cli/progress_display.h"

#include <ostream>

namespace kinetra::cli {

namespace {
constexpr std::chrono::milliseconds kRedrawInterval{50};
}

ProgressDisplay::ProgressDisplay(std::ostream& out, bool in_place) : out_(out), in_place_(in_place) {}

ProgressDisplay::~ProgressDisplay() { keep(); }

void ProgressDisplay::show(const std::string& line, bool milestone) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (held_) return;
    if (!in_place_) {
        if (milestone && line != last_) out_ << line << "\n" << std::flush;
        last_ = line;
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!milestone && open_ && now - drawn_ < kRedrawInterval) return;
    out_ << "\r" << line << "\x1b[K" << std::flush;
    open_ = true;
    drawn_ = now;
}

void ProgressDisplay::keep() {
    std::lock_guard<std::mutex> lock(mutex_);
    keepLocked();
}

void ProgressDisplay::keepLocked() {
    if (in_place_ && open_) out_ << "\n" << std::flush;
    open_ = false;
}

void ProgressDisplay::message(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    keepLocked();
    out_ << line << "\n" << std::flush;
}

void ProgressDisplay::hold(bool held) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (held) keepLocked();
    held_ = held;
}

}  // namespace kinetra::cli
