#include "socketcan/link_messages.h"

#include <linux/can/netlink.h>
#include <net/if.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cstring>

namespace kinetra::socketcan {

namespace {

// Builds one netlink message, attributes nested by start/end pairs.
class MessageWriter {
public:
    MessageWriter(uint16_t type, uint16_t flags, uint32_t sequence, int ifindex, unsigned flags_value,
                  unsigned change) {
        nlmsghdr header{};
        header.nlmsg_type = type;
        header.nlmsg_flags = flags;
        header.nlmsg_seq = sequence;
        put(&header, sizeof header);
        ifinfomsg info{};
        info.ifi_family = AF_UNSPEC;
        info.ifi_index = ifindex;
        info.ifi_flags = flags_value;
        info.ifi_change = change;
        put(&info, sizeof info);
    }

    void attribute(uint16_t type, const void* payload, std::size_t length) {
        const std::size_t at = start(type);
        put(payload, length);
        end(at);
    }
    std::size_t start(uint16_t type) {
        const std::size_t at = bytes_.size();
        rtattr attr{};
        attr.rta_type = type;
        put(&attr, sizeof attr);
        return at;
    }
    void end(std::size_t at) {
        const auto length = static_cast<unsigned short>(bytes_.size() - at);
        std::memcpy(bytes_.data() + at + offsetof(rtattr, rta_len), &length, sizeof length);
        bytes_.resize(RTA_ALIGN(bytes_.size()), 0);
    }
    std::vector<uint8_t> finish() {
        const auto length = static_cast<uint32_t>(bytes_.size());
        std::memcpy(bytes_.data() + offsetof(nlmsghdr, nlmsg_len), &length, sizeof length);
        return std::move(bytes_);
    }

private:
    void put(const void* data, std::size_t length) {
        const auto* p = static_cast<const uint8_t*>(data);
        bytes_.insert(bytes_.end(), p, p + length);
    }
    std::vector<uint8_t> bytes_;
};

constexpr uint16_t kRequestAck = NLM_F_REQUEST | NLM_F_ACK;

// Calls `visit(type, payload, length)` for each well-formed attribute in the range.
template <typename Visit>
void forEachAttribute(const uint8_t* data, std::size_t length, Visit visit) {
    std::size_t at = 0;
    while (at + sizeof(rtattr) <= length) {
        rtattr attr;
        std::memcpy(&attr, data + at, sizeof attr);
        if (attr.rta_len < sizeof(rtattr) || at + attr.rta_len > length) return;
        visit(attr.rta_type, data + at + RTA_LENGTH(0), attr.rta_len - RTA_LENGTH(0));
        at += RTA_ALIGN(attr.rta_len);
    }
}

std::string linkKind(const uint8_t* attributes, std::size_t length) {
    std::string kind;
    forEachAttribute(attributes, length, [&](uint16_t type, const uint8_t* payload, std::size_t size) {
        if ((type & NLA_TYPE_MASK) != IFLA_LINKINFO) return;
        forEachAttribute(payload, size, [&](uint16_t inner, const uint8_t* text, std::size_t text_size) {
            if (inner != IFLA_INFO_KIND) return;
            const auto* end = static_cast<const uint8_t*>(std::memchr(text, 0, text_size));
            kind.assign(reinterpret_cast<const char*>(text), end ? std::size_t(end - text) : text_size);
        });
    });
    return kind;
}

}  // namespace

std::vector<uint8_t> linkStateMessage(int ifindex, bool up, uint32_t sequence) {
    return MessageWriter(RTM_NEWLINK, kRequestAck, sequence, ifindex, up ? static_cast<unsigned>(IFF_UP) : 0u, IFF_UP).finish();
}

std::vector<uint8_t> bitRateMessage(int ifindex, uint32_t bits_per_second, uint32_t sequence) {
    MessageWriter message(RTM_NEWLINK, kRequestAck, sequence, ifindex, 0, 0);
    static constexpr char kKind[] = "can";
    const std::size_t link_info = message.start(IFLA_LINKINFO);
    message.attribute(IFLA_INFO_KIND, kKind, sizeof kKind);
    const std::size_t info_data = message.start(IFLA_INFO_DATA);
    can_bittiming timing{};
    timing.bitrate = bits_per_second;
    message.attribute(IFLA_CAN_BITTIMING, &timing, sizeof timing);
    message.end(info_data);
    message.end(link_info);
    return message.finish();
}

std::vector<uint8_t> linkQueryMessage(int ifindex, uint32_t sequence) {
    return MessageWriter(RTM_GETLINK, NLM_F_REQUEST, sequence, ifindex, 0, 0).finish();
}

LinkReply parseLinkReply(const uint8_t* data, std::size_t length, uint32_t sequence) {
    LinkReply reply;
    std::size_t at = 0;
    while (!reply.complete && at + sizeof(nlmsghdr) <= length) {
        nlmsghdr header;
        std::memcpy(&header, data + at, sizeof header);
        if (header.nlmsg_len < sizeof header || at + header.nlmsg_len > length) break;
        const uint8_t* body = data + at + NLMSG_HDRLEN;
        const std::size_t body_length = header.nlmsg_len - NLMSG_HDRLEN;
        if (header.nlmsg_seq == sequence) {
            if (header.nlmsg_type == NLMSG_ERROR && body_length >= sizeof(nlmsgerr)) {
                nlmsgerr error;
                std::memcpy(&error, body, sizeof error);
                reply.error = -error.error;
                reply.complete = true;
            } else if (header.nlmsg_type == RTM_NEWLINK && body_length >= NLMSG_ALIGN(sizeof(ifinfomsg))) {
                const std::size_t skip = NLMSG_ALIGN(sizeof(ifinfomsg));
                reply.kind = linkKind(body + skip, body_length - skip);
                reply.complete = true;
            }
        }
        at += NLMSG_ALIGN(header.nlmsg_len);
    }
    return reply;
}

}  // namespace kinetra::socketcan
