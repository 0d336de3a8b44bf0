// `kinetra share`: one adapter (kinetra-sim's), three programs through the
// share's ports at once. A monitor's candump trace holds the frames of the two
// others, a telemetry view gets its replies, and only one port at a time may
// move the bus to another bit rate.

#include "support/cli_process.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#if defined(KINETRA_CLI_PATH) && defined(KINETRA_SIM_PATH)

namespace kinetra::test::cli_share {
namespace {

using namespace std::chrono_literals;

constexpr auto kBound = 8000ms;

/// A program of the user's own: raw SLCAN lines on a share port.
class RawSlcan {
public:
    explicit RawSlcan(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        termios settings{};
        if (fd_ >= 0 && ::tcgetattr(fd_, &settings) == 0) {
            ::cfmakeraw(&settings);
            ::tcsetattr(fd_, TCSANOW, &settings);
        }
    }
    ~RawSlcan() {
        if (fd_ >= 0) ::close(fd_);
    }
    RawSlcan(const RawSlcan&) = delete;
    RawSlcan& operator=(const RawSlcan&) = delete;
    bool opened() const { return fd_ >= 0; }

    /// Sends `lines` and returns the first `replies` bytes that come back (fewer
    /// when they do not come within the bound). Frames from the bus are skipped.
    std::string exchange(const std::string& lines, std::size_t replies) {
        if (::write(fd_, lines.data(), lines.size()) != static_cast<ssize_t>(lines.size())) return {};
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + kBound;
        std::string line;
        while (got.size() < replies && std::chrono::steady_clock::now() < deadline) {
            pollfd ready{fd_, POLLIN, 0};
            if (::poll(&ready, 1, 100) <= 0) continue;
            char c = 0;
            if (::read(fd_, &c, 1) != 1) break;
            if (c == '\a' || (c == '\r' && line.empty())) {
                got += c;  // a refusal, or an acknowledgement
            } else if (c == '\r') {
                line.clear();  // a frame line from the bus
            } else {
                line += c;
            }
        }
        return got;
    }

private:
    int fd_ = -1;
};

std::string portOf(const BackgroundProcess& process) {
    const std::string out = process.output();
    const std::size_t at = out.find("port: ");
    const std::size_t end = at == std::string::npos ? at : out.find('\n', at);
    return end == std::string::npos ? std::string() : out.substr(at + 6, end - at - 6);
}

TEST(CliShare, ThreeProgramsOnOneAdapterAndOneRateHolder) {
    BackgroundProcess sim(KINETRA_SIM_PATH, {"--driver", "1"});
    ASSERT_TRUE(eventually([&] { return !portOf(sim).empty(); }, kBound));
    const std::string ports = "/tmp/kinetra-share-" + std::to_string(::getpid());
    BackgroundProcess share(KINETRA_CLI_PATH, {"share", "--hosts", "3", "--link", ports, "--slcan", portOf(sim)}, true);
    ASSERT_TRUE(eventually([&] { return share.output().find("sharing ") != std::string::npos; }, kBound))
        << share.errors();
    EXPECT_NE(share.output().find("port 3: " + ports + "-3\n"), std::string::npos) << share.output();

    BackgroundProcess monitor(KINETRA_CLI_PATH, {"monitor", "--candump", "-", "--slcan", ports});
    ASSERT_TRUE(eventually([&] { return monitor.output().find(" can0 ") != std::string::npos; }, kBound))
        << "the node's heartbeats reach the monitor";

    const ProcessResult telemetry =
        runProcess(KINETRA_CLI_PATH, {"telemetry", "1", "--count", "2", "--slcan", ports + "-2"});
    EXPECT_EQ(telemetry.exit_code, 0) << telemetry.err;
    EXPECT_NE(telemetry.out.find("bus voltage:"), std::string::npos) << telemetry.out;
    EXPECT_EQ(telemetry.out.find("RET_"), std::string::npos) << "every read answered:\n" << telemetry.out;

    RawSlcan own(ports + "-3");
    ASSERT_TRUE(own.opened());
    // At the share's rate (500k: S6) the channel opens; the frame is carried, not acknowledged.
    EXPECT_EQ(own.exchange("S6\rO\rT1ABCDE0F4DEADBEEF\r", 2), "\r\r");

    // The telemetry view's queries to node 1 (remote frames) and the own frame.
    EXPECT_TRUE(eventually(
        [&] {
            const std::string trace = monitor.output();
            return trace.find("1ABCDE0F#DEADBEEF") != std::string::npos && trace.find("#R") != std::string::npos;
        },
        kBound))
        << monitor.output();

    // The own program moves the bus to 1M (S8); another port may not take it elsewhere meanwhile.
    EXPECT_EQ(own.exchange("C\rS8\rO\r", 3), "\r\r\r");
    RawSlcan other(ports + "-2");
    ASSERT_TRUE(other.opened());
    EXPECT_EQ(other.exchange("C\rS5\r", 2), "\r\a");
    EXPECT_TRUE(eventually(
        [&] {
            return share.errors().find("port 2 asked for 250k: refused, port 3 holds the bus at 1M") !=
                   std::string::npos;
        },
        kBound))
        << share.errors();
    EXPECT_EQ(monitor.interrupt(), 0);
    EXPECT_EQ(share.interrupt(), 0) << share.errors();
    EXPECT_EQ(sim.interrupt(), 0);
}

}  // namespace
}  // namespace kinetra::test::cli_share

#endif
