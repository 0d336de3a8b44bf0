#include "cli/adapter_probe.h"

#include "usb/slcan_codec.h"

#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace kinetra::cli {

namespace {
/// Closes the descriptor on every path out.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};
}  // namespace

ProbeResult probeAdapter(const std::string& port) {
    Descriptor fd(::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) return ProbeResult::NotOpened;
    termios settings{};
    if (::tcgetattr(fd.get(), &settings) == 0) {
        ::cfmakeraw(&settings);
        ::cfsetspeed(&settings, B115200);
        ::tcsetattr(fd.get(), TCSANOW, &settings);
    }
    const std::string query = kinetra::slcan::firmwareVersionQuery();
    if (::write(fd.get(), query.data(), query.size()) != static_cast<ssize_t>(query.size())) {
        return ProbeResult::Silent;
    }
    const auto deadline = std::chrono::steady_clock::now() + kProbeWait;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return ProbeResult::Silent;
        pollfd ready{fd.get(), POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
        char byte = 0;
        const ssize_t got = ::read(fd.get(), &byte, 1);
        if (got > 0) return ProbeResult::Answered;
        // End of file or an error (a pty whose other side is gone): nobody there.
        if (got == 0 || (errno != EAGAIN && errno != EINTR)) return ProbeResult::Silent;
    }
}

}  // namespace kinetra::cli
