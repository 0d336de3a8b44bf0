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
    if (!in_place_) {
        if (milestone && line != last_) out_ << line << "\n" << std::flush;
        last_ = line;
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    last_ = line;
    if (!milestone && open_ && now - drawn_ < kRedrawInterval) return;
    drawLocked(now);
}

void ProgressDisplay::drawLocked(std::chrono::steady_clock::time_point now) {
    out_ << "\r" << last_ << reminder_ << "\x1b[K" << std::flush;
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
    // A kept line is not drawn again, by remind() either.
    if (in_place_) last_.clear();
}

void ProgressDisplay::message(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    keepLocked();
    out_ << line << "\n" << std::flush;
}

void ProgressDisplay::remind(const std::string& reminder) {
    std::lock_guard<std::mutex> lock(mutex_);
    reminder_ = reminder;
    if (in_place_ && !last_.empty()) drawLocked(std::chrono::steady_clock::now());
}


}  // namespace kinetra::cli
