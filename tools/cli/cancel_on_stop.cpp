#include "cli/cancel_on_stop.h"

#include "cli/terminal_input.h"

#include <string>

namespace kinetra::cli {

namespace {
constexpr std::chrono::milliseconds kWatchSlice{100};
}

CancelOnStop::CancelOnStop(StopFlag& stop, Confirm confirm) : stop_(stop), confirm_(std::move(confirm)) {
    thread_ = std::thread([this] { watch(); });
}

CancelOnStop::~CancelOnStop() { finish(); }

void CancelOnStop::finish() {
    finished_ = true;
    stop_.notify();
    if (thread_.joinable()) thread_.join();
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

bool confirmStopOnTerminal(StopFlag& stop, const std::string& question, const std::function<bool()>& finished,
                           const std::function<void(const std::string&)>& say) {
    const bool ask = answerableInput();
    say(question + (ask ? " [y/N, or Ctrl-C again]" : " (Ctrl-C again to stop)"));
    std::string answer;
    bool reading = ask;
    while (!finished()) {
        if (stop.requested()) {
            say("stopping");
            return true;
        }
        if (!reading) {
            stop.waitUntil(kWatchSlice, finished);
            continue;
        }
        const int c = readInputChar(kWatchSlice);
        if (c == kNoInput) continue;
        if (c == kEndOfInput) {
            reading = false;  // end of input: only a second Ctrl-C can stop now
            continue;
        }
        if (c != '\n') {
            answer += static_cast<char>(c);
            continue;
        }
        const bool yes = answer == "y" || answer == "Y" || answer == "yes";
        say(yes ? "stopping" : "going on");
        return yes;
    }
    say("ended before an answer; nothing stopped");
    return false;
}

}  // namespace kinetra::cli
