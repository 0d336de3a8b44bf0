#include "socketcan/link_control.h"

#include "interface/log_sink.h"
#include "socketcan/link_messages.h"

#include <linux/netlink.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>
#include <fstream>

namespace kinetra::socketcan {

namespace {

// The kernel answers a link request at once; this only bounds a lost answer.
constexpr auto kLinkReplyWait = std::chrono::milliseconds(1000);
constexpr std::size_t kLinkReceiveBuffer = 16384;

std::atomic<uint32_t> next_link_sequence{1};

std::string linkErrorText(int error) { return std::generic_category().message(error); }

class NetlinkSocket {
public:
    NetlinkSocket() : fd_(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)) {}
    ~NetlinkSocket() {
        if (fd_ >= 0) ::close(fd_);
    }
    NetlinkSocket(const NetlinkSocket&) = delete;
    NetlinkSocket& operator=(const NetlinkSocket&) = delete;

    // Sends `message` (numbered `sequence`) and reads until its answer; an
    // unanswered request reports ETIMEDOUT.
    LinkReply request(const std::vector<uint8_t>& message, uint32_t sequence) {
        LinkReply reply;
        if (fd_ < 0) {
            reply.error = errno;
            reply.complete = true;
            return reply;
        }
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        if (::sendto(fd_, message.data(), message.size(), 0, reinterpret_cast<sockaddr*>(&kernel),
                     sizeof kernel) < 0) {
            reply.error = errno;
            reply.complete = true;
            return reply;
        }
        const auto deadline = std::chrono::steady_clock::now() + kLinkReplyWait;
        std::array<uint8_t, kLinkReceiveBuffer> buffer;
        while (!reply.complete) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd readable{fd_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0) {
                reply.error = ETIMEDOUT;
                return reply;
            }
            const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN) continue;
                reply.error = errno;
                return reply;
            }
            reply = parseLinkReply(buffer.data(), static_cast<std::size_t>(n), sequence);
        }
        return reply;
    }

private:
    int fd_;
};

// Asks for an ack of `message` built with `sequence`; the errno, 0 on success.
int ackOf(NetlinkSocket& socket, const std::vector<uint8_t>& message, uint32_t sequence) {
    return socket.request(message, sequence).error;
}

}  // namespace

int setLinkUp(int ifindex, bool up) {
    NetlinkSocket socket;
    const uint32_t sequence = next_link_sequence++;
    return ackOf(socket, linkStateMessage(ifindex, up, sequence), sequence);
}

std::string refuseInterfaceName(const std::string& name, const std::string& sysfs_net) {
    if (name.empty()) return "no CAN interface named (give one such as can0 or vcan0)";
    if (name.size() >= IFNAMSIZ) {
        return "interface name \"" + name + "\" is longer than the kernel allows (" + std::to_string(IFNAMSIZ - 1) +
               " characters)";
    }
    if (name.find('/') != std::string::npos || name == "." || name == "..") {
        return "\"" + name + "\" is no network interface name";
    }
    std::ifstream type_file(sysfs_net + "/" + name + "/type");
    int type = -1;
    if (!(type_file >> type)) return "no network interface named \"" + name + "\"";
    if (type != kCanHardwareType) {
        return "network interface \"" + name + "\" is not a CAN interface (type " + std::to_string(type) + ")";
    }
    return {};
}

std::string bitRateCommandHint(const std::string& name, unsigned bits_per_second) {
    return "ip link set " + name + " down && ip link set " + name + " type can bitrate " +
           std::to_string(bits_per_second) + " && ip link set " + name + " up";
}

bool setLinkBitRate(int ifindex, const std::string& name, unsigned bits_per_second, LogSink& log) {
    NetlinkSocket socket;
    const uint32_t query_sequence = next_link_sequence++;
    const LinkReply link = socket.request(linkQueryMessage(ifindex, query_sequence), query_sequence);
    if (link.error != 0) {
        log.line("Could not read the kind of CAN interface ", name, ": ", linkErrorText(link.error));
        return false;
    }
    if (link.kind != "can") {
        log.line("CAN interface ", name, " (", link.kind.empty() ? "no kind" : link.kind,
                 ") has no bit rate of its own; left as it is");
        return true;
    }

    const uint32_t down_sequence = next_link_sequence++;
    int error = ackOf(socket, linkStateMessage(ifindex, false, down_sequence), down_sequence);
    if (error == EPERM || error == EACCES) {
        log.line("Not permitted to set the bit rate of ", name, " (needs CAP_NET_ADMIN); run instead: ",
                 bitRateCommandHint(name, bits_per_second));
        return false;
    }
    if (error == 0) {
        const uint32_t rate_sequence = next_link_sequence++;
        error = ackOf(socket, bitRateMessage(ifindex, bits_per_second, rate_sequence), rate_sequence);
        if (error != 0) {
            log.line("Could not set the bit rate of ", name, " to ", bits_per_second, ": ", linkErrorText(error),
                     "; try: ", bitRateCommandHint(name, bits_per_second));
        }
    } else {
        log.line("Could not take ", name, " down to set its bit rate: ", linkErrorText(error));
    }
    const uint32_t up_sequence = next_link_sequence++;
    const int up_error = ackOf(socket, linkStateMessage(ifindex, true, up_sequence), up_sequence);
    if (up_error != 0) log.line("Could not bring ", name, " up again: ", linkErrorText(up_error));
    if (error == 0 && up_error == 0) log.line("CAN interface ", name, " now runs at ", bits_per_second, " bit/s");
    return error == 0 && up_error == 0;
}

}  // namespace kinetra::socketcan
