#pragma once
// Runs the kinetra tool (or kinetra-sim) as a child process for end-to-end tests.

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include <sys/types.h>

namespace kinetra::test {

struct ProcessResult {
    int exit_code = -1;  ///< -1 when killed for running too long
    std::string out;
    std::string err;
};

/// Runs `program` with `arguments`; the environment is this process's without
/// the tool's own variables, plus `environment`. Killed after `limit`.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::map<std::string, std::string>& environment = {},
                         std::chrono::milliseconds limit = std::chrono::milliseconds(20000));

/// Runs a shell command and returns its standard output (empty when it cannot start).
std::string shellOutput(const std::string& command);

/// A program running in the background with its output going to a file.
class BackgroundProcess {
public:
    BackgroundProcess(const std::string& program, const std::vector<std::string>& arguments);
    /// The same with standard input a pipe that send() writes to, and standard
    /// error kept for errors().
    BackgroundProcess(const std::string& program, const std::vector<std::string>& arguments, bool with_input);
    /// Sends SIGINT and waits (bounded) for the end; SIGKILL if it does not come.
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    /// What it has written to standard output so far.
    std::string output() const;
    /// Sends SIGINT and returns the exit code (-1 when it had to be killed).
    int interrupt();
    /// Sends `signal_number` (SIGINT: a Ctrl-C) without waiting.
    void signal(int signal_number);
    /// Writes `text` to its standard input (with_input only).
    void send(const std::string& text);
    /// What it has written to standard error so far (with_input only).
    std::string errors() const;
    /// Waits up to `limit` for it to end by itself; its exit code, -1 when it
    /// was still running (it is then killed).
    int wait(std::chrono::milliseconds limit);

private:
    pid_t pid_ = -1;
    std::string out_path_;
    std::string err_path_;
    int input_ = -1;
    int exit_code_ = -1;
};

}  // namespace kinetra::test
