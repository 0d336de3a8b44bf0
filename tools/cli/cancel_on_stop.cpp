#include "cli/cancel_on_stop.h"

#include <poll.h>
#include <unistd.h>

#include <iostream>
#include <string>

namespace kinetra::cli {

namespace {
constexpr std::chrono::milliseconds kWatchSlice{100};
}

CancelOnStop::CancelOnStop(StopFlag& stop, Confirm confirm) : stop_(stop), confirm_(std::move(confirm)) {
    thread_ = std::thread([this] { watch(); });
}

CancelOnStop::~CancelOnStop() {
    finished_ = true;
    stop_.notify();
    thread_.join();
}

void CancelOnStop::watch() {
    const auto finished = [this] { return finished_.load(); };
    while (!finished_) {
        stop_.waitUntil(kWatchSlice, finished);
        if (finished_ || !stop_.requested()) continue;
        if (!confirm_) {
            cancel_ = true;
            return;
        }
        // Lowered first, so that a second Ctrl-C during the question raises it anew.
        stop_.clear();
        if (confirm_(finished)) {
            stop_.request();
            cancel_ = true;
            return;
        }
    }
}

bool confirmStopOnTerminal(StopFlag& stop, const std::string& question, const std::function<bool()>& finished) {
    const bool ask = ::isatty(STDIN_FILENO) == 1;
    std::cerr << "\n" << question << (ask ? " [y/N, or Ctrl-C again] " : " (Ctrl-C again to stop)\n") << std::flush;
    std::string answer;
    bool reading = ask;
    while (!finished()) {
        if (stop.requested()) {
            std::cerr << "\nstopping\n" << std::flush;
            return true;
        }
        if (!reading) {
            stop.waitUntil(kWatchSlice, finished);
            continue;
        }
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (::poll(&input, 1, static_cast<int>(kWatchSlice.count())) <= 0) continue;
        char c = 0;
        if (::read(STDIN_FILENO, &c, 1) != 1) {
            reading = false;  // end of input: only a second Ctrl-C can stop now
            continue;
        }
        if (c != '\n') {
            answer += c;
            continue;
        }
        const bool yes = answer == "y" || answer == "Y" || answer == "yes";
        std::cerr << (yes ? "stopping\n" : "going on\n") << std::flush;
        return yes;
    }
    return false;
}

}  // namespace kinetra::cli
