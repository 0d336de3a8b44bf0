#include "socketcan/socketcan_impl.h"

#include "devices/protocol/motor_controller_protocol.h"
#include "socketcan/kernel_frame.h"
#include "socketcan/link_control.h"

#include <linux/can.h>
#include <linux/can/error.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <chrono>
#include <stdexcept>
#include <system_error>

namespace {

// Bound of one receive wait; closeInterface() ends it at once through the wake-up.
constexpr int kReceiveWaitMs = 1000;
// How long a send waits for room in a full transmit queue, and the pause between
// its attempts (the kernel offers no readiness event for the device queue).
constexpr auto kSendQueueWait = std::chrono::milliseconds(200);
constexpr int kSendRetryPauseMs = 2;

std::string socketErrorText(int error) { return std::generic_category().message(error); }

}  // namespace

unsigned char SocketCANInterface::SocketCANImpl::open(const std::string& name) {
    close();
    const std::string refusal = kinetra::socketcan::refuseInterfaceName(name);
    if (!refusal.empty()) {
        log_.line("SocketCAN: ", refusal);
        return 0;
    }
    const unsigned index = ::if_nametoindex(name.c_str());
    if (index == 0) {
        log_.line("SocketCAN: no network interface named \"", name, "\"");
        return 0;
    }
    const int fd = ::socket(PF_CAN, SOCK_RAW | SOCK_CLOEXEC, CAN_RAW);
    if (fd < 0) {
        log_.line("SocketCAN: this system offers no CAN sockets (", socketErrorText(errno),
                  "); load the can and can-raw modules");
        return 0;
    }
    const can_err_mask_t errors = CAN_ERR_MASK;
    const int enable = 1;
    // CAN FD frames are taken in only to be refused with a log line, rather than
    // passing unseen.
    ::setsockopt(fd, SOL_CAN_RAW, CAN_RAW_FD_FRAMES, &enable, sizeof enable);
    sockaddr_can address{};
    address.can_family = AF_CAN;
    address.can_ifindex = static_cast<int>(index);
    if (::setsockopt(fd, SOL_CAN_RAW, CAN_RAW_ERR_FILTER, &errors, sizeof errors) != 0 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        log_.line("SocketCAN: could not bind to ", name, ": ", socketErrorText(errno));
        ::close(fd);
        return 0;
    }
    std::unique_lock<std::shared_mutex> lock(io_mutex_);
    wakeup_.reset();
    closing_ = false;
    link_down_ = false;
    bus_state_ = SOCKETCAN_ERROR_ACTIVE;
    fd_ = fd;
    ifindex_ = static_cast<int>(index);
    name_ = name;
    return 1;
}

void SocketCANInterface::SocketCANImpl::close() {
    closing_ = true;
    wakeup_.signal();
    std::unique_lock<std::shared_mutex> lock(io_mutex_);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    ifindex_ = 0;
    name_.clear();
}

std::string SocketCANInterface::SocketCANImpl::name() {
    std::shared_lock<std::shared_mutex> lock(io_mutex_);
    return name_;
}

void SocketCANInterface::SocketCANImpl::noteLinkDown(const char* during) {
    if (!link_down_.exchange(true)) {
        log_.line("SocketCAN: interface ", name_, " is down (", during, "); operations fail until it is up again");
    }
}

void SocketCANInterface::SocketCANImpl::noteLinkUp() {
    if (link_down_.exchange(false)) log_.line("SocketCAN: interface ", name_, " is up again");
}

bool SocketCANInterface::SocketCANImpl::send(const can_frame_data& frame) {
    std::shared_lock<std::shared_mutex> lock(io_mutex_);
    if (fd_ < 0 || closing_.load()) return false;
    if (bus_state_.load() == SOCKETCAN_BUS_OFF) return false;
    can_frame out;
    if (!kinetra::socketcan::toKernelFrame(frame, out)) {
        log_.line("SocketCAN: refused to send a frame with the error flag set (id 0x", std::hex, frame.can_id,
                  std::dec, ")");
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + kSendQueueWait;
    for (;;) {
        const ssize_t n = ::send(fd_, &out, sizeof out, MSG_DONTWAIT);
        if (n == static_cast<ssize_t>(sizeof out)) {
            noteLinkUp();
            return true;
        }
        const int error = n < 0 ? errno : EIO;
        if (error == EINTR) continue;
        if (error == ENETDOWN) {
            noteLinkDown("send");
            return false;
        }
        if (error != ENOBUFS && error != EAGAIN) {
            log_.line("SocketCAN: send on ", name_, " failed: ", socketErrorText(error));
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            log_.line("SocketCAN: transmit queue of ", name_, " stayed full for ",
                      std::chrono::milliseconds(kSendQueueWait).count(), " ms; frame dropped");
            return false;
        }
        pollfd wake{wakeup_.fd(), POLLIN, 0};
        if (::poll(&wake, 1, kSendRetryPauseMs) > 0) return false;
    }
}

void SocketCANInterface::SocketCANImpl::handleErrorFrame(const can_frame& frame) {
    const SocketCANBusState before = bus_state_.load();
    const auto report = kinetra::socketcan::decodeErrorFrame(frame, before);
    bus_state_ = report.state;
    log_.line("SocketCAN: error frame on ", name_, ": ", report.text);
    if (report.state != before) {
        log_.line("SocketCAN: controller of ", name_, " is now ", kinetra::socketcan::busStateName(report.state));
    }
}

bool SocketCANInterface::SocketCANImpl::receive(can_frame_data& frame) {
    std::shared_lock<std::shared_mutex> lock(io_mutex_);
    if (fd_ < 0 || closing_.load()) return false;
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeup_.fd(), POLLIN, 0}};
    if (::poll(fds, 2, kReceiveWaitMs) <= 0 || fds[1].revents != 0) return false;
    canfd_frame buffer{};
    const ssize_t n = ::recv(fd_, &buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0) {
        const int error = errno;
        if (error == EAGAIN || error == EINTR) return false;
        if (error == ENETDOWN) {
            noteLinkDown("receive");
            return false;
        }
        if (error == ENODEV) throw std::runtime_error("CAN interface " + name_ + " was removed");
        log_.line("SocketCAN: receive on ", name_, " failed: ", socketErrorText(error));
        return false;
    }
    if (n != static_cast<ssize_t>(CAN_MTU)) {
        log_.line("SocketCAN: ignored a ", n == static_cast<ssize_t>(CANFD_MTU) ? "CAN FD" : "malformed",
                  " frame of ", n, " bytes on ", name_);
        return false;
    }
    can_frame classic;
    static_assert(sizeof classic <= sizeof buffer, "a classic frame fits the receive buffer");
    std::memcpy(&classic, &buffer, sizeof classic);
    if (classic.can_id & CAN_ERR_FLAG) {
        handleErrorFrame(classic);
        return false;
    }
    noteLinkUp();
    // A frame received means the controller is on the bus again, whether or not
    // the driver reported the restart.
    if (bus_state_.load() == SOCKETCAN_BUS_OFF) {
        bus_state_ = SOCKETCAN_ERROR_ACTIVE;
        log_.line("SocketCAN: controller of ", name_, " is back on the bus");
    }
    frame = kinetra::socketcan::fromKernelFrame(classic);
    return true;
}

ret_interface_t SocketCANInterface::SocketCANImpl::setBitRate(CANBaudRate rate) {
    const int selector = static_cast<int>(rate);
    if (selector < 0 || selector >= kinetra::protocol::motor::kCanBitRateCount) {
        log_.line("SocketCAN: unknown CAN bit rate selector ", selector);
        return RET_INTERFACE_FAIL;
    }
    int index = 0;
    std::string name;
    {
        std::shared_lock<std::shared_mutex> lock(io_mutex_);
        index = ifindex_;
        name = name_;
    }
    if (index == 0) {
        log_.line("SocketCAN: the interface is closed; no bit rate set");
        return RET_INTERFACE_FAIL;
    }
    const bool done =
        kinetra::socketcan::setLinkBitRate(index, name, kinetra::protocol::motor::kCanBitRates[selector], log_);
    return done ? RET_INTERFACE_OK : RET_INTERFACE_FAIL;
}
