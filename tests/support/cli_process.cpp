#include "support/cli_process.h"

#include "support/wait.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace kinetra::test {

namespace {

std::string temporaryPath(const char* tag) {
    static int counter = 0;
    return "/tmp/kinetra-cli-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + "-" + tag;
}

std::string slurp(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

pid_t spawn(const std::string& program, const std::vector<std::string>& arguments,
            const std::map<std::string, std::string>& environment, const std::string& out_path,
            const std::string& err_path, int input = -1) {
    std::vector<std::string> env_strings;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (text.rfind("KINETRA_", 0) == 0) continue;
        env_strings.push_back(text);
    }
    for (const auto& [name, value] : environment) env_strings.push_back(name + "=" + value);
    std::vector<std::string> argv_strings{program};
    argv_strings.insert(argv_strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv, envp;
    for (std::string& text : argv_strings) argv.push_back(text.data());
    for (std::string& text : env_strings) envp.push_back(text.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int in = input >= 0 ? input : ::open("/dev/null", O_RDONLY);
        const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        // The test binary may run with signals blocked by gtest threads; start clean.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    return pid;
}

/// Waits for the child with a bound; -1 when it had to be killed.
int reap(pid_t pid, std::chrono::milliseconds limit) {
    int status = 0;
    const bool ended = eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, limit);
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::map<std::string, std::string>& environment, std::chrono::milliseconds limit) {
    const std::string out_path = temporaryPath("out");
    const std::string err_path = temporaryPath("err");
    const pid_t pid = spawn(program, arguments, environment, out_path, err_path);
    ProcessResult result;
    result.exit_code = reap(pid, limit);
    result.out = slurp(out_path);
    result.err = slurp(err_path);
    std::remove(out_path.c_str());
    std::remove(err_path.c_str());
    return result;
}

BackgroundProcess::BackgroundProcess(const std::string& program, const std::vector<std::string>& arguments)
    : out_path_(temporaryPath("bg")), err_path_("/dev/null") {
    pid_ = spawn(program, arguments, {}, out_path_, "/dev/null");
}

BackgroundProcess::BackgroundProcess(const std::string& program, const std::vector<std::string>& arguments,
                                     bool with_input)
    : out_path_(temporaryPath("bg")), err_path_(with_input ? temporaryPath("bgerr") : std::string("/dev/null")) {
    int pipe_ends[2] = {-1, -1};
    if (with_input && ::pipe2(pipe_ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    // The child's end loses O_CLOEXEC with dup2; the writing end closes on exec.
    pid_ = spawn(program, arguments, {}, out_path_, err_path_, pipe_ends[0]);
    if (pipe_ends[0] >= 0) ::close(pipe_ends[0]);
    input_ = pipe_ends[1];
}

BackgroundProcess::~BackgroundProcess() {
    interrupt();
    if (input_ >= 0) ::close(input_);
    std::remove(out_path_.c_str());
    if (err_path_ != "/dev/null") std::remove(err_path_.c_str());
}

void BackgroundProcess::signal(int signal_number) {
    if (pid_ > 0) ::kill(pid_, signal_number);
}

void BackgroundProcess::send(const std::string& text) {
    if (input_ >= 0 && ::write(input_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        throw std::runtime_error("cannot write to the process");
    }
}

std::string BackgroundProcess::errors() const { return slurp(err_path_); }

int BackgroundProcess::wait(std::chrono::milliseconds limit) {
    if (pid_ > 0) {
        exit_code_ = reap(pid_, limit);
        pid_ = -1;
    }
    return exit_code_;
}

std::string BackgroundProcess::output() const { return slurp(out_path_); }

int BackgroundProcess::interrupt() {
    if (pid_ > 0) {
        ::kill(pid_, SIGINT);
        exit_code_ = reap(pid_, std::chrono::milliseconds(5000));
        pid_ = -1;
    }
    return exit_code_;
}

std::string shellOutput(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
        ::pclose(pipe);
    }
    return out;
}

}  // namespace kinetra::test
