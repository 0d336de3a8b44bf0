#include "pty_port.h"

#include "thread_cpu_time.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace kinetra::sim {
namespace {

constexpr std::size_t kReadChunk = 4096;
// The thread re-checks its stop flag this often even if a wake-up were lost.
constexpr int kPollBoundMs = 1000;

[[noreturn]] void fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

void makeRaw(int fd) {
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) return;
    ::cfmakeraw(&settings);
    ::tcsetattr(fd, TCSANOW, &settings);
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

PtyPort::PtyPort() {
    master_fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_fd_ < 0) fail("posix_openpt");
    char name[128];
    if (::grantpt(master_fd_) != 0 || ::unlockpt(master_fd_) != 0 || ::ptsname_r(master_fd_, name, sizeof name) != 0) {
        const int error = errno;
        closeFd(master_fd_);
        errno = error;
        fail("preparing the pseudo-terminal");
    }
    slave_path_ = name;
    // Our own descriptor on the slave keeps the pty alive while no host has it
    // open: without one the master reports a hang-up and poll() would never rest.
    slave_fd_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    wake_fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    // Watched only after our own open, so every open seen is a host's.
    watch_fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (slave_fd_ < 0 || wake_fd_ < 0 || watch_fd_ < 0 ||
        ::inotify_add_watch(watch_fd_, name, IN_OPEN | IN_CLOSE) < 0) {
        const int error = errno;
        closeAll();
        errno = error;
        fail("opening the pseudo-terminal");
    }
    // Raw from the start: no echo of the host's lines back to it, no CR/LF changes.
    makeRaw(slave_fd_);
    makeRaw(master_fd_);
    ::fcntl(master_fd_, F_SETFL, ::fcntl(master_fd_, F_GETFL) | O_NONBLOCK);
    pending_.reserve(kReadChunk);
}

PtyPort::~PtyPort() {
    stop();
    closeAll();
}

void PtyPort::closeAll() {
    std::lock_guard<std::mutex> lock(write_mutex_);
    closeFd(master_fd_);
    closeFd(slave_fd_);
    closeFd(wake_fd_);
    closeFd(watch_fd_);
    pending_.clear();
}

void PtyPort::start(Consumer consumer) {
    if (thread_.joinable() || !plugged_) return;
    stopping_ = false;
    thread_ = std::thread([this, consumer = std::move(consumer)] { run(consumer); });
}

void PtyPort::stop() {
    stopping_ = true;
    wake();
    if (thread_.joinable()) thread_.join();
}

void PtyPort::unplug() {
    stop();
    plugged_ = false;
    std::lock_guard<std::mutex> lock(write_mutex_);
    closeFd(master_fd_);
    closeFd(slave_fd_);
    closeFd(watch_fd_);
    host_connected_ = false;
    pending_.clear();
}

void PtyPort::wake() {
    if (wake_fd_ < 0) return;
    const uint64_t one = 1;
    // A full counter already means "wake up"; nothing to do on failure.
    [[maybe_unused]] const ssize_t written = ::write(wake_fd_, &one, sizeof one);
}

void PtyPort::drainWake() {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(wake_fd_, &count, sizeof count);
}

void PtyPort::writeToHost(std::string_view bytes) {
    std::lock_guard<std::mutex> lock(write_mutex_);
    if (master_fd_ < 0 || bytes.empty()) return;
    if (!host_connected_) {
        bytes_discarded_ += bytes.size();
        return;
    }
    if (pending_.empty()) {
        const ssize_t written = ::write(master_fd_, bytes.data(), bytes.size());
        const std::size_t done = written > 0 ? static_cast<std::size_t>(written) : 0;
        if (done == bytes.size()) return;
        bytes.remove_prefix(done);
    }
    if (pending_.size() + bytes.size() > kMaxPending) {
        // Nobody has read for a long while (no host has the port open): what
        // waits is stale, so it goes, together with what the pty still holds.
        bytes_discarded_ += pending_.size();
        pending_.clear();
        ::tcflush(slave_fd_, TCIFLUSH);
    }
    const bool was_empty = pending_.empty();
    pending_.append(bytes.data(), bytes.size());
    // The I/O thread waits for room only while something is pending.
    if (was_empty) wake();
}

void PtyPort::flushPendingLocked() {
    while (!pending_.empty()) {
        const ssize_t written = ::write(master_fd_, pending_.data(), pending_.size());
        if (written <= 0) return;
        pending_.erase(0, static_cast<std::size_t>(written));
    }
}

void PtyPort::watchHostOpens() {
    alignas(inotify_event) char events[1024];
    const ssize_t got = ::read(watch_fd_, events, sizeof events);
    if (got <= 0) return;
    for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(events + at);
        if (event->mask & IN_OPEN) ++host_opens_;
        if ((event->mask & IN_CLOSE) && host_opens_ > 0) --host_opens_;
        // Lost events leave the count unknown: better to talk to nobody than to
        // fall silent towards a host.
        if (event->mask & IN_Q_OVERFLOW) host_opens_ = 1;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
    const bool connected = host_opens_ > 0;
    if (connected == host_connected_) return;
    std::lock_guard<std::mutex> lock(write_mutex_);
    if (connected) {
        // Whatever a previous host left unread is not for this one.
        ::tcflush(slave_fd_, TCIFLUSH);
        pending_.clear();
    }
    host_connected_ = connected;
}

std::chrono::nanoseconds PtyPort::ioCpuTime() const { return threadCpuTime(const_cast<std::thread&>(thread_)); }

void PtyPort::run(const Consumer& consumer) {
    ::pthread_setname_np(::pthread_self(), "sim-adapter-io");
    char buffer[kReadChunk];
    while (!stopping_) {
        bool want_room = false;
        {
            std::lock_guard<std::mutex> lock(write_mutex_);
            want_room = !pending_.empty();
        }
        pollfd fds[3] = {{master_fd_, static_cast<short>(POLLIN | (want_room ? POLLOUT : 0)), 0},
                         {wake_fd_, POLLIN, 0},
                         {watch_fd_, POLLIN, 0}};
        const int ready = ::poll(fds, 3, kPollBoundMs);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents & POLLIN) drainWake();
        // Before the host's bytes: its open is queued before anything it writes.
        if (fds[2].revents & POLLIN) watchHostOpens();
        if (fds[0].revents & POLLOUT) {
            std::lock_guard<std::mutex> lock(write_mutex_);
            flushPendingLocked();
        }
        if (fds[0].revents & POLLIN) {
            const ssize_t got = ::read(master_fd_, buffer, sizeof buffer);
            if (got > 0) {
                consumer(buffer, static_cast<std::size_t>(got));
            } else if (got < 0 && errno != EAGAIN && errno != EINTR) {
                return;
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // Cannot happen while we hold the slave open; if it does, resting is
            // better than spinning on a dead descriptor.
            return;
        }
    }
}

}  // namespace kinetra::sim
