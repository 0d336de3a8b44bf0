#pragma once
// A progress line that redraws in place on a terminal and falls back to plain
// lines (milestones only) when the output is a file or a pipe.

#include <chrono>
#include <iosfwd>
#include <mutex>
#include <string>

namespace kinetra::cli {

class ProgressDisplay {
public:
    /// `in_place`: the stream is a terminal, so a line is redrawn over the last.
    ProgressDisplay(std::ostream& out, bool in_place);
    /// Ends a line left open.
    ~ProgressDisplay();
    ProgressDisplay(const ProgressDisplay&) = delete;
    ProgressDisplay& operator=(const ProgressDisplay&) = delete;

    /// In place: redraws the line (at most 20 times a second, always for a
    /// milestone). Plain: prints it as a line of its own only for a milestone.
    void show(const std::string& line, bool milestone);
    /// Keeps the line on screen: the next show() starts a new line.
    void keep();
    /// A line of its own, after the open progress line.
    void message(const std::string& line);
    /// Whether lines are redrawn in place.
    bool inPlace() const { return in_place_; }
    /// While a question waits for its answer, an in-place line ends with
    /// `reminder` (empty: none), so that the progress stays live beneath the
    /// question; it is redrawn at once. Any thread may call it.
    void remind(const std::string& reminder);

private:
    void keepLocked();
    void drawLocked(std::chrono::steady_clock::time_point now);

    std::mutex mutex_;
    std::string reminder_;
    std::ostream& out_;
    bool in_place_;
    bool open_ = false;
    std::string last_;
    std::chrono::steady_clock::time_point drawn_{};
};

}  // namespace kinetra::cli
