// SignalWatcher on Windows: Ctrl-C, Ctrl-Break and the console closing come to a
// console control handler, which Windows calls on a thread of its own; there
// are no signals to block, so the watcher needs no thread.

#include "cli/stop_flag.h"

#include <cstdlib>

#include "serial/windows_api.h"

namespace kinetra::cli {

namespace {
/// What the handler reports to: the one watcher's count and stop flag, set
/// while it lives.
std::mutex watcher_mutex;
int* current_count = nullptr;
StopFlag* current_stop = nullptr;

BOOL WINAPI onConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    std::lock_guard<std::mutex> lock(watcher_mutex);
    if (current_stop == nullptr) return FALSE;
    ++*current_count;
    // A third Ctrl-C means the clean stop is not coming: leave at once.
    if (*current_count >= 3) std::_Exit(130);
    current_stop->request();
    return TRUE;
}
}  // namespace

SignalWatcher::SignalWatcher(StopFlag& stop) : stop_(stop) {
    std::lock_guard<std::mutex> lock(watcher_mutex);
    current_count = &count_;
    current_stop = &stop_;
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

SignalWatcher::~SignalWatcher() {
    ::SetConsoleCtrlHandler(onConsoleControl, FALSE);
    std::lock_guard<std::mutex> lock(watcher_mutex);
    current_count = nullptr;
    current_stop = nullptr;
}

int SignalWatcher::count() const {
    std::lock_guard<std::mutex> lock(watcher_mutex);
    return count_;
}

}  // namespace kinetra::cli
