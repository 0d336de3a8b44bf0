#pragma once
// Turns a stop request (Ctrl-C) into the cancel flag of a library procedure
// that blocks the main thread, optionally after the user confirms it.

#include "cli/stop_flag.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace kinetra::cli {

class CancelOnStop {
public:
    /// Asked on the watcher thread when a stop arrives: true cancels the
    /// procedure, false takes the stop back. `finished()` tells it that the
    /// procedure has ended meanwhile, so that it can stop asking.
    using Confirm = std::function<bool(const std::function<bool()>& finished)>;

    /// Starts watching `stop`; without `confirm` every stop cancels.
    explicit CancelOnStop(StopFlag& stop, Confirm confirm = {});
    /// Calls finish().
    ~CancelOnStop();
    /// Tells the watcher that the procedure has ended, so that a question still
    /// open ends now, before the result is shown, and stops watching (bounded:
    /// the watcher's waits are short). Idempotent.
    void finish();
    CancelOnStop(const CancelOnStop&) = delete;
    CancelOnStop& operator=(const CancelOnStop&) = delete;

    /// The flag to give the procedure.
    const std::atomic<bool>* flag() const { return &cancel_; }
    bool cancelled() const { return cancel_; }

private:
    void watch();

    StopFlag& stop_;
    Confirm confirm_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

/// The flash's question on a terminal: a second Ctrl-C or "y" stops, Enter goes
/// on. Reads the answer from standard input; when that is no terminal only a
/// second Ctrl-C stops. Gives the question and the outcome, one line each, to
/// `say`; a procedure that ends before an answer closes the question with a
/// line that says so, and nothing is stopped.
bool confirmStopOnTerminal(StopFlag& stop, const std::string& question, const std::function<bool()>& finished,
                           const std::function<void(const std::string&)>& say);

}  // namespace kinetra::cli
