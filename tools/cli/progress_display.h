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
    /// While held, nothing is drawn, so that a question asked meanwhile stays
    /// on screen; holding ends the open line first. Any thread may call it.
    void hold(bool held);

private:
    void keepLocked();

    std::mutex mutex_;
    bool held_ = false;
    std::ostream& out_;
    bool in_place_;
    bool open_ = false;
    std::string last_;
    std::chrono::steady_clock::time_point drawn_{};
};

}  // namespace kinetra::cli
