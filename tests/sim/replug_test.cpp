// The adapter pulled out and plugged back in: the library reports the loss at
// once and connects again through the same port name; the simulator program
// keeps that name through its link and ends promptly on SIGTERM.

#include "kinetra_sim/simulator.h"

#include <kinetra/driver.h>
#include <kinetra/usb_interface.h>

#include "support/sanitizers.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <vector>

extern char** environ;

namespace kinetra::sim {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kSanitizerSlack = kinetra::test::kSanitized ? 5 : 1;

std::string linkTarget(const std::string& path) {
    char target[256] = {};
    const ssize_t length = ::readlink(path.c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

std::string uniqueLink(const char* what) {
    return "/tmp/kinetra-test-" + std::string(what) + "-" + std::to_string(::getpid());
}

TEST(SimulatorReplug, LibraryReportsTheLossAndReconnectsThroughTheSameLink) {
    SimulatorOptions options;
    options.link_path = uniqueLink("replug");
    Simulator sim({{NodeKind::Driver, 1}}, options);
    sim.start();
    sim.registerAsAdapter();
    ASSERT_EQ(sim.portName(), options.link_path);
    const std::string first_pty = linkTarget(options.link_path);
    ASSERT_FALSE(first_pty.empty());

    std::mutex mutex;
    std::vector<unsigned int> lost;
    std::promise<void> adapter_gone;
    USBInterface iface;
    iface.setAdapterLostCallback([&] { adapter_gone.set_value(); });
    ASSERT_TRUE(iface.initInterface(sim.portName(), {}, [&](unsigned int node) {
        std::lock_guard<std::mutex> lock(mutex);
        lost.push_back(node);
    }));
    Driver driver(1, &iface);
    ASSERT_TRUE(test::eventually([&] { return driver.isConnected(); }, 3000ms));

    sim.unplug();
    EXPECT_TRUE(linkTarget(options.link_path).empty()) << "the link goes with the adapter";
    ASSERT_EQ(adapter_gone.get_future().wait_for(900ms), std::future_status::ready);
    EXPECT_FALSE(iface.isRunning());
    EXPECT_FALSE(driver.isConnected());
    float voltage = 0.0f;
    EXPECT_EQ(driver.getBusVoltage(&voltage), RET_NOT_RUNNING);
    {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(lost, std::vector<unsigned int>{1});
    }

    sim.replug();
    EXPECT_EQ(sim.portName(), options.link_path);
    EXPECT_NE(linkTarget(options.link_path), first_pty);
    EXPECT_TRUE(iface.closeInterface());
    ASSERT_TRUE(iface.initInterface(sim.portName()));
    ASSERT_TRUE(test::eventually([&] { return driver.isConnected() && iface.isRunning(); }, 3000ms));
    EXPECT_EQ(driver.getBusVoltage(&voltage), RET_OK);
    iface.closeInterface();
}

#ifdef KINETRA_SIM_PROGRAM
// Fault: the program could linger after SIGTERM; it must end within 0.2 s and
// take its link with it.
TEST(SimulatorProgram, EndsPromptlyOnSigtermAndRemovesItsLinks_Slow) {
    const std::string link = uniqueLink("program");
    int out[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // Two hosts: a port each, the second's link beside the first's; and a second
    // bus (the same node id on it) with two ports of its own.
    std::vector<std::string> args = {KINETRA_SIM_PROGRAM, "--driver", "1", "--link", link, "--hosts", "2",
                                     "--bus", "--driver", "1", "--bitrate", "8"};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);

    // Ready once it has printed its banner.
    std::string printed;
    const auto deadline = Clock::now() + 5s;
    while (printed.find("Ctrl-C ends") == std::string::npos && Clock::now() < deadline) {
        pollfd fd{out[0], POLLIN, 0};
        if (::poll(&fd, 1, 100) <= 0) continue;
        char buffer[256];
        const ssize_t got = ::read(out[0], buffer, sizeof buffer);
        if (got <= 0) break;
        printed.append(buffer, static_cast<std::size_t>(got));
    }
    const std::string bus2 = link + "-bus2";
    ASSERT_NE(printed.find("bus 1:\nport 1: " + link + "\nport 2: " + link + "-2\nnode 1: driver\nbus 2:\nport 3: " +
                           bus2 + "\nport 4: " + bus2 + "-2\nnode 1: driver\n"),
              std::string::npos)
        << printed;
    for (const std::string& path : {link, link + "-2", bus2, bus2 + "-2"}) {
        EXPECT_EQ(linkTarget(path).rfind("/dev/pts/", 0), 0u) << path;
    }
    EXPECT_NE(linkTarget(link), linkTarget(link + "-2"));
    EXPECT_NE(linkTarget(link), linkTarget(bus2));

    const auto signalled = Clock::now();
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    int status = 0;
    const bool ended = test::eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 3000ms);
    const auto took = Clock::now() - signalled;
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    ::close(out[0]);
    ASSERT_TRUE(ended);
    EXPECT_LT(took, 200ms * kSanitizerSlack);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (const std::string& path : {link, link + "-2", bus2, bus2 + "-2"}) EXPECT_TRUE(linkTarget(path).empty()) << path;
}
#endif

}  // namespace
}  // namespace kinetra::sim
