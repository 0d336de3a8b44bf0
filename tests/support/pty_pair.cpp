#include "support/pty_pair.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace kinetra::test {

namespace {

using Clock = std::chrono::steady_clock;

std::runtime_error systemError(const std::string& what) {
    return std::runtime_error("PtyPair: " + what + ": " + std::strerror(errno));
}

/// Milliseconds left until `deadline`, rounded up, never negative.
int msUntil(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

}  // namespace

PtyPair::PtyPair() {
    master_fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_fd_ < 0) throw systemError("posix_openpt");
    char name[128] = {};
    if (::grantpt(master_fd_) != 0 || ::unlockpt(master_fd_) != 0 ||
        ::ptsname_r(master_fd_, name, sizeof name) != 0) {
        const auto error = systemError("grantpt/unlockpt/ptsname_r");
        ::close(master_fd_);
        throw error;
    }
    slave_path_ = name;
    slave_fd_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (slave_fd_ < 0 || ::tcgetattr(slave_fd_, &tio) != 0) {
        const auto error = systemError("open slave " + slave_path_);
        if (slave_fd_ >= 0) ::close(slave_fd_);
        ::close(master_fd_);
        throw error;
    }
    ::cfmakeraw(&tio);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::tcsetattr(slave_fd_, TCSANOW, &tio);
    // Non-blocking so that every master-side wait is bounded by poll().
    ::fcntl(master_fd_, F_SETFL, ::fcntl(master_fd_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
    closeMaster();
    if (slave_fd_ >= 0) ::close(slave_fd_);
}

bool PtyPair::writeToMaster(const std::string& bytes, std::chrono::milliseconds timeout) {
    std::lock_guard<std::mutex> lock(write_mutex_);
    const auto deadline = Clock::now() + timeout;
    std::size_t done = 0;
    while (done < bytes.size()) {
        if (master_fd_ < 0) return false;
        const ssize_t n = ::write(master_fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        // The slave's input queue is full: wait for the reader to make room.
        const int left = msUntil(deadline);
        if (left == 0) return false;
        pollfd pfd{master_fd_, POLLOUT, 0};
        if (::poll(&pfd, 1, left) < 0 && errno != EINTR) return false;
    }
    return true;
}

bool PtyPair::fillPending(Clock::time_point deadline) {
    if (master_fd_ < 0) return false;
    pollfd pfd{master_fd_, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, msUntil(deadline));
    if (ready < 0) return errno == EINTR;
    if (ready == 0) return false;
    char chunk[4096];
    const ssize_t n = ::read(master_fd_, chunk, sizeof chunk);
    if (n > 0) {
        pending_.append(chunk, static_cast<std::size_t>(n));
        return true;
    }
    // EIO here means no slave is open: nothing can arrive, so stop waiting.
    return n < 0 && (errno == EAGAIN || errno == EINTR);
}

std::string PtyPair::readFromMaster(std::size_t count, std::chrono::milliseconds timeout) {
    std::lock_guard<std::mutex> lock(read_mutex_);
    const auto deadline = Clock::now() + timeout;
    while (pending_.size() < count && fillPending(deadline)) {
    }
    std::string out = pending_.substr(0, count);
    pending_.erase(0, out.size());
    return out;
}

std::string PtyPair::readUntilFromMaster(const std::string& terminator, std::chrono::milliseconds timeout) {
    std::lock_guard<std::mutex> lock(read_mutex_);
    const auto deadline = Clock::now() + timeout;
    std::size_t found = pending_.find(terminator);
    while (found == std::string::npos && fillPending(deadline)) {
        found = pending_.find(terminator);
    }
    const std::size_t take = found == std::string::npos ? pending_.size() : found + terminator.size();
    std::string out = pending_.substr(0, take);
    pending_.erase(0, take);
    return out;
}

void PtyPair::closeMaster() {
    std::lock_guard<std::mutex> read_lock(read_mutex_);
    std::lock_guard<std::mutex> write_lock(write_mutex_);
    if (master_fd_ >= 0) {
        ::close(master_fd_);
        master_fd_ = -1;
    }
}

}  // namespace kinetra::test
