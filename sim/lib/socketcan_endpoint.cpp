#include "kinetra_sim/socketcan_endpoint.h"

#include "devices/protocol/motor_controller_protocol.h"
#include "socketcan/kernel_frame.h"

#include <linux/can.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace kinetra::sim {

namespace {
[[noreturn]] void fail(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}
}  // namespace

SocketCANEndpoint::SocketCANEndpoint(const std::string& interface, HostBus& bus) : name_(interface), bus_(bus) {
    if (name_.empty() || name_.size() >= IFNAMSIZ) fail(EINVAL, "CAN interface name \"" + name_ + "\"");
    const unsigned index = ::if_nametoindex(name_.c_str());
    if (index == 0) fail(ENODEV, "no network interface named " + name_);
    socket_ = ::socket(PF_CAN, SOCK_RAW | SOCK_CLOEXEC, CAN_RAW);
    if (socket_ < 0) fail(errno, "CAN socket (is the can-raw module loaded?)");
    sockaddr_can address{};
    address.can_family = AF_CAN;
    address.can_ifindex = static_cast<int>(index);
    if (::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(socket_);
        fail(error, "binding to " + name_ + " (is it a CAN interface?)");
    }
    wakeup_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeup_ < 0) {
        const int error = errno;
        ::close(socket_);
        fail(error, "eventfd");
    }
    bus_.attach(*this);
    attached_ = true;
}

SocketCANEndpoint::~SocketCANEndpoint() {
    stop();
    ::close(wakeup_);
    ::close(socket_);
}

void SocketCANEndpoint::start() {
    if (!thread_.joinable() && attached_) thread_ = std::thread([this] { receiveLoop(); });
}

void SocketCANEndpoint::stop() {
    // Detached first: once this returns the bus no longer writes to the socket.
    if (attached_) bus_.detach(*this);
    attached_ = false;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeup_, &one, sizeof one);
    if (thread_.joinable()) thread_.join();
}

void SocketCANEndpoint::frameToHost(const can_frame_data& frame) {
    can_frame out;
    if (!kinetra::socketcan::toKernelFrame(frame, out) ||
        ::send(socket_, &out, sizeof out, MSG_DONTWAIT) != static_cast<ssize_t>(sizeof out)) {
        dropped_.fetch_add(1);
    }
}

void SocketCANEndpoint::receiveLoop() {
    for (;;) {
        pollfd fds[2] = {{socket_, POLLIN, 0}, {wakeup_, POLLIN, 0}};
        // No time-out: stop() wakes the thread through the event.
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if (fds[1].revents != 0) return;
        if (fds[0].revents == 0) continue;
        can_frame in;
        const ssize_t n = ::recv(socket_, &in, sizeof in, MSG_DONTWAIT);
        // A failed read (the interface went down) is reported once by the kernel;
        // the next poll blocks again. Error frames are the controller's, not a host's.
        if (n != static_cast<ssize_t>(sizeof in) || (in.can_id & CAN_ERR_FLAG) != 0) continue;
        // Handed over at every rate: each node and each other host runs at exactly
        // one, so each hears the frame once.
        const can_frame_data frame = kinetra::socketcan::fromKernelFrame(in);
        for (int rate = 0; rate < protocol::motor::kCanBitRateCount; ++rate) {
            bus_.deliverFromHost(frame, static_cast<CANBaudRate>(rate), *this);
        }
    }
}

}  // namespace kinetra::sim
