#include "serial/serial_unix.h"

#include "serial/custom_baud.h"
#include "serial/serial_timeouts.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace serial {

namespace {

/// The file named in every IOException of this implementation.
constexpr const char* kSourceFile = "src/serial/serial_unix.cpp";

/// Bytes asked of the system per read: many SLCAN lines per call when they stream.
constexpr std::size_t kReadChunk = 4096;

/// "<description>: <errno>", the way every message carrying a system error ends.
IOException systemError(int line, const std::string& description, int errnum) {
    return IOException(kSourceFile, line, description + ": " + std::to_string(errnum), errnum);
}

/// Whether `fd` is the slave side of a pseudo-terminal, which ignores the baud rate.
bool isPseudoTerminal(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned int dev_major = major(st.st_rdev);
    // 136-143: Unix98 pty slaves (/dev/pts/N); 3: legacy BSD pty slaves.
    return (dev_major >= 136 && dev_major <= 143) || dev_major == 3;
}

}  // namespace

Serial::SerialImpl::SerialImpl(const std::string& port, uint32_t baudrate, const Timeout& timeout,
                               bytesize_t bytesize, parity_t parity, stopbits_t stopbits,
                               flowcontrol_t flowcontrol)
    : SerialSettings(port, timeout, {baudrate, bytesize, parity, stopbits, flowcontrol}) {}

Serial::SerialImpl::~SerialImpl() {
    try {
        close();
    } catch (...) {
        // A destructor must not throw; the descriptor is released either way.
    }
}

void Serial::SerialImpl::open() {
    std::lock_guard<std::mutex> read_lock(read_mutex_);
    std::lock_guard<std::mutex> write_lock(write_mutex_);
    openLocked();
}

void Serial::SerialImpl::openLocked() {
    const std::string port = portToOpen();
    if (fd_ >= 0) throw SerialException("Serial port already open.");

    // Non-blocking: every wait happens in poll(), bounded and interruptible.
    const int fd = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT) throw IOException(kSourceFile, __LINE__, "Specified port, " + port + ", does not exist.", error);
        // EBUSY: another opener set exclusive mode (TIOCEXCL) and we are not root.
        if (error == EBUSY) throw IOException(kSourceFile, __LINE__, "Serial port " + port + " is in use by another program.", error);
        throw systemError(__LINE__, "Unknown error opening the serial port", error);
    }
    // TIOCEXCL does not stop root, so a second opener is refused by the lock too.
    // The lock belongs to this open file description: a second Serial in this
    // process is refused as well as one in another process.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK) {
            throw IOException(kSourceFile, __LINE__, "Serial port " + port + " is in use by another program.", EBUSY);
        }
        throw systemError(__LINE__, "Unknown error opening the serial port", error);
    }
    ::ioctl(fd, TIOCEXCL);

    fd_ = fd;
    try {
        applyLineSettingsLocked(lineSettings());
    } catch (...) {
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
        fd_ = -1;
        throw;
    }
    rx_.clear();
    open_.store(true, std::memory_order_release);
}

void Serial::SerialImpl::applyLineSettingsLocked(const kinetra::LineSettings& settings) {
    if (fd_ < 0) throw IOException(kSourceFile, __LINE__, "Invalid file descriptor, is the serial port open?");
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) {
        throw IOException(kSourceFile, __LINE__, "Error getting the serial port state.", errno);
    }
    kinetra::applyLineSettings(tio, settings);
    speed_t speed = B9600;
    const bool standard = kinetra::standardBaudConstant(settings.baudrate, speed);
    if (standard) {
        ::cfsetispeed(&tio, speed);
        ::cfsetospeed(&tio, speed);
    }
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0) {
        const int error = errno;
        // A pseudo-terminal has no line framing and refuses parity (EINVAL);
        // it stands in for an adapter only if it opens, so give it 8N framing.
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR);
        tio.c_cflag |= CS8;
        if (!isPseudoTerminal(fd_) || ::tcsetattr(fd_, TCSANOW, &tio) != 0) {
            throw IOException(kSourceFile, __LINE__, "Error setting serial port settings.", error);
        }
    }
    if (!standard) {
        const int error = kinetra::setCustomBaudRate(fd_, settings.baudrate);
        // A pseudo-terminal has no line speed; refusing one must not fail the open.
        if (error != 0 && !isPseudoTerminal(fd_)) {
            throw IOException(kSourceFile, __LINE__, "Error setting serial port settings.", error);
        }
    }
}

void Serial::SerialImpl::close() {
    if (!isOpen()) return;
    // Wake a blocked reader or writer first, so the locks come free at once.
    closing_.fetch_add(1, std::memory_order_acq_rel);
    wakeup_.signal();
    std::lock_guard<std::mutex> read_lock(read_mutex_);
    std::lock_guard<std::mutex> write_lock(write_mutex_);
    closeLocked();
    // Reset while both locks are held: no reader or writer can be waiting now,
    // and any later close() signals again after raising closing_.
    wakeup_.reset();
    closing_.fetch_sub(1, std::memory_order_acq_rel);
}

void Serial::SerialImpl::closeLocked() noexcept {
    if (fd_ < 0) return;
    open_.store(false, std::memory_order_release);
    rx_.clear();
    // The exclusive flag outlives this descriptor while others hold the tty open.
    ::ioctl(fd_, TIOCNXCL);
    // Linux releases the descriptor even when close() reports an error (say EIO
    // after an unplug), so the port is closed either way. Not throwing keeps
    // close() safe in destructors and shutdown paths.
    ::close(fd_);
    fd_ = -1;
}

void Serial::SerialImpl::setPort(const std::string& port) {
    const bool wake = isOpen();
    if (wake) {
        closing_.fetch_add(1, std::memory_order_acq_rel);
        wakeup_.signal();
    }
    std::lock_guard<std::mutex> read_lock(read_mutex_);
    std::lock_guard<std::mutex> write_lock(write_mutex_);
    struct WakeupDone {
        SerialImpl& self;
        bool active;
        ~WakeupDone() {
            if (!active) return;
            self.wakeup_.reset();
            self.closing_.fetch_sub(1, std::memory_order_acq_rel);
        }
    } done{*this, wake};
    const bool was_open = fd_ >= 0;
    if (was_open) closeLocked();
    storePort(port);
    if (was_open) openLocked();
}

void Serial::SerialImpl::updateLineSettings(const std::function<void(kinetra::LineSettings&)>& change) {
    // The write lock keeps the descriptor valid and serialises setters; a reader
    // blocked in readline() does not delay it.
    std::lock_guard<std::mutex> write_lock(write_mutex_);
    changeLineSettings(change, [this](const kinetra::LineSettings& settings) {
        if (fd_ >= 0) applyLineSettingsLocked(settings);
    });
}

bool Serial::SerialImpl::readAvailable() {
    for (;;) {
        const ssize_t n = ::read(fd_, rx_.prepare(kReadChunk), kReadChunk);
        if (n > 0) {
            rx_.commit(static_cast<std::size_t>(n));
            return true;
        }
        // The descriptor is non-blocking and VMIN is 1, so an empty read means
        // end of file: the device went away (adapter unplugged, pty master closed).
        if (n == 0) throw systemError(__LINE__, "Error while reading from the serial port", EIO);
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return false;
        throw systemError(__LINE__, "Error while reading from the serial port", errno);
    }
}

short Serial::SerialImpl::waitFor(short events, Clock::time_point deadline) {
    for (;;) {
        pollfd fds[2] = {{fd_, events, 0}, {wakeup_.fd(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, static_cast<int>(kinetra::millisecondsUntil(deadline, INT_MAX)));
        if (ready < 0) {
            if (errno == EINTR) continue;
            throw systemError(__LINE__, "Error while waiting for the serial port", errno);
        }
        if (ready == 0 || fds[1].revents != 0) return 0;
        if (fds[0].revents & POLLNVAL) throw systemError(__LINE__, "Error while waiting for the serial port", EBADF);
        // Ready, or hung up / failed: the next read or write tells which.
        return fds[0].revents;
    }
}

size_t Serial::SerialImpl::readline(std::string& buffer, size_t size, const std::string& eol) {
    std::lock_guard<std::mutex> read_lock(read_mutex_);
    if (fd_ < 0) throw PortNotOpenedException("Serial::read");
    if (size == 0) return 0;

    const kinetra::ReadBounds bounds = kinetra::readBounds(getTimeout());

    std::size_t scanned = 0;
    short revents = 0;  // what the last wait reported about the port
    Clock::time_point last_arrival = Clock::now();
    for (;;) {
        const std::size_t line = rx_.findLine(size, eol, scanned);
        if (line > 0) {
            rx_.take(line, buffer);
            return line;
        }
        if (closing_.load(std::memory_order_acquire) > 0) break;
        if (readAvailable()) {
            last_arrival = Clock::now();
            revents = 0;
            continue;
        }
        // Hung up yet nothing to read and no error from read(): waiting again
        // would return at once, over and over. Report the port as gone instead.
        if (revents & (POLLHUP | POLLERR)) throw systemError(__LINE__, "Error while reading from the serial port", EIO);
        const auto deadline = kinetra::deadlineAfter(last_arrival, rx_.empty() ? bounds.first_byte : bounds.between_bytes);
        if (Clock::now() >= deadline) break;
        revents = waitFor(POLLIN, deadline);
        if (revents == 0 && Clock::now() >= deadline) break;
        // Otherwise data (or a hang-up, which the next read reports) arrived, or
        // the wake-up fired and closing_ ends the loop.
    }
    // Time-out or close(): hand out what arrived of the line, like a short read.
    const std::size_t partial = rx_.size();
    rx_.take(partial, buffer);
    return partial;
}

size_t Serial::SerialImpl::write(const uint8_t* data, size_t size) {
    std::lock_guard<std::mutex> write_lock(write_mutex_);
    if (fd_ < 0) throw PortNotOpenedException("Serial::write");

    const uint64_t budget = kinetra::writeBudget(getTimeout(), size);
    const auto deadline = kinetra::deadlineAfter(Clock::now(), budget);

    std::size_t done = 0;
    short revents = 0;  // what the last wait reported about the port
    while (done < size) {
        if (closing_.load(std::memory_order_acquire) > 0) return done;
        const ssize_t n = ::write(fd_, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            revents = 0;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) throw systemError(__LINE__, "Error while writing to the serial port", errno);
        // A hang-up without a write error would make every wait return at once.
        if (revents & (POLLHUP | POLLERR)) throw systemError(__LINE__, "Error while writing to the serial port", EIO);
        // No room in the output queue. Without a write time-out, do not wait.
        if (budget == 0) return done;
        if (Clock::now() >= deadline) throw IOException(kSourceFile, __LINE__, "Write timeout.");
        revents = waitFor(POLLOUT, deadline);
    }
    return done;
}

}  // namespace serial
