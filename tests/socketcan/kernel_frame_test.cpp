#include "socketcan/kernel_frame.h"
#include "socketcan/link_messages.h"

#include <gtest/gtest.h>

#include <linux/can/error.h>
#include <linux/can/netlink.h>
#include <net/if.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace kinetra::test {
namespace {

using namespace kinetra::socketcan;

TEST(SocketCANFrame, ConvertsToKernelFrames) {
    struct Case {
        const char* what;
        uint32_t id;
        uint8_t dlc;
        uint32_t kernel_id;
        uint8_t kernel_len;
    };
    const Case cases[] = {
        {"extended data", CAN_EFF_FLAG | 0x1234567u, 8, CAN_EFF_FLAG | 0x1234567u, 8},
        {"extended remote", CAN_EFF_FLAG | CAN_RTR_FLAG | 0x1FFFFFFFu, 0, CAN_EFF_FLAG | CAN_RTR_FLAG | 0x1FFFFFFFu, 0},
        {"standard identifier cut to 11 bits", 0x1234u, 2, 0x234u, 2},
        {"length beyond 8 clamped", CAN_EFF_FLAG | 1u, 15, CAN_EFF_FLAG | 1u, 8},
    };
    for (const Case& c : cases) {
        can_frame_data frame;
        frame.can_id = c.id;
        frame.can_dlc = c.dlc;
        for (int i = 0; i < 8; ++i) frame.data[i] = static_cast<uint8_t>(0xA0 + i);
        can_frame out;
        ASSERT_TRUE(toKernelFrame(frame, out)) << c.what;
        EXPECT_EQ(out.can_id, c.kernel_id) << c.what;
        EXPECT_EQ(out.len, c.kernel_len) << c.what;
        EXPECT_EQ(std::memcmp(out.data, frame.data, out.len), 0) << c.what;
        // Bytes beyond the length never carry stale data to the wire.
        for (int i = out.len; i < 8; ++i) EXPECT_EQ(out.data[i], 0) << c.what;
    }
    can_frame_data error_frame;
    error_frame.can_id = CAN_ERR_FLAG | CAN_ERR_BUSOFF;
    can_frame out;
    EXPECT_FALSE(toKernelFrame(error_frame, out));
}

TEST(SocketCANFrame, ConvertsFromKernelFrames) {
    can_frame in{};
    in.can_id = CAN_EFF_FLAG | CAN_RTR_FLAG | 0x2AAu;
    in.len = 12;  // impossible for a classic frame, but never read past 8
    for (int i = 0; i < 8; ++i) in.data[i] = static_cast<uint8_t>(i + 1);
    const can_frame_data frame = fromKernelFrame(in);
    EXPECT_EQ(frame.can_id, in.can_id);
    EXPECT_EQ(frame.can_dlc, 8);
    EXPECT_EQ(frame.data[7], 8);

    in.len = 3;
    const can_frame_data shorter = fromKernelFrame(in);
    EXPECT_EQ(shorter.can_dlc, 3);
    EXPECT_EQ(shorter.data[3], 0);
}

TEST(SocketCANFrame, DecodesErrorFramesIntoStateAndText) {
    struct Case {
        const char* what;
        uint32_t classes;
        uint8_t controller;
        SocketCANBusState before;
        SocketCANBusState after;
        const char* text;
    };
    const Case cases[] = {
        {"bus-off", CAN_ERR_BUSOFF, 0, SOCKETCAN_ERROR_PASSIVE, SOCKETCAN_BUS_OFF, "bus-off"},
        {"bus-off beats passive in one frame", CAN_ERR_BUSOFF | CAN_ERR_CRTL, CAN_ERR_CRTL_TX_PASSIVE,
         SOCKETCAN_ERROR_ACTIVE, SOCKETCAN_BUS_OFF, "bus-off"},
        {"restart", CAN_ERR_RESTARTED, 0, SOCKETCAN_BUS_OFF, SOCKETCAN_ERROR_ACTIVE, "restarted"},
        {"receive warning", CAN_ERR_CRTL, CAN_ERR_CRTL_RX_WARNING, SOCKETCAN_ERROR_ACTIVE, SOCKETCAN_ERROR_WARNING,
         "warning"},
        {"passive beats warning", CAN_ERR_CRTL, CAN_ERR_CRTL_TX_WARNING | CAN_ERR_CRTL_RX_PASSIVE,
         SOCKETCAN_ERROR_ACTIVE, SOCKETCAN_ERROR_PASSIVE, "passive"},
        {"back to active", CAN_ERR_CRTL, CAN_ERR_CRTL_ACTIVE, SOCKETCAN_ERROR_WARNING, SOCKETCAN_ERROR_ACTIVE,
         "active"},
        {"overflow keeps the state", CAN_ERR_CRTL, CAN_ERR_CRTL_RX_OVERFLOW, SOCKETCAN_ERROR_WARNING,
         SOCKETCAN_ERROR_WARNING, "overflow"},
        {"missing acknowledgement keeps the state", CAN_ERR_ACK, 0, SOCKETCAN_ERROR_ACTIVE, SOCKETCAN_ERROR_ACTIVE,
         "acknowledgement"},
        {"nothing named", 0, 0, SOCKETCAN_ERROR_PASSIVE, SOCKETCAN_ERROR_PASSIVE, "unspecified"},
    };
    for (const Case& c : cases) {
        can_frame frame{};
        frame.can_id = CAN_ERR_FLAG | c.classes;
        frame.len = CAN_ERR_DLC;
        frame.data[1] = c.controller;
        const ErrorFrameReport report = decodeErrorFrame(frame, c.before);
        EXPECT_EQ(report.state, c.after) << c.what;
        EXPECT_NE(report.text.find(c.text), std::string::npos) << c.what << ": " << report.text;
    }

    // The counters are read only when the frame says it carries them, and a
    // short frame's missing bytes read as zero.
    can_frame counted{};
    counted.can_id = CAN_ERR_FLAG | CAN_ERR_CNT | CAN_ERR_PROT;
    counted.len = CAN_ERR_DLC;
    counted.data[6] = 97;
    counted.data[7] = 3;
    EXPECT_NE(decodeErrorFrame(counted, SOCKETCAN_ERROR_ACTIVE).text.find("transmit errors 97, receive errors 3"),
              std::string::npos);
    counted.len = 2;
    EXPECT_NE(decodeErrorFrame(counted, SOCKETCAN_ERROR_ACTIVE).text.find("transmit errors 0"), std::string::npos);
}

// Reads little-endian fields of a message, as the kernel does on this machine.
template <typename T>
T fieldAt(const std::vector<uint8_t>& bytes, std::size_t offset) {
    T value{};
    EXPECT_LE(offset + sizeof value, bytes.size());
    if (offset + sizeof value <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

TEST(SocketCANLinkMessages, BitRateMessageHasTheKernelsLayout) {
    const std::vector<uint8_t> m = bitRateMessage(7, 500000, 42);
    // header 16 + ifinfomsg 16 + LINKINFO(4 + KIND(4 + "can\0") + DATA(4 + BITTIMING(4 + 32)))
    ASSERT_EQ(m.size(), 84u);
    EXPECT_EQ(fieldAt<uint32_t>(m, 0), 84u);
    EXPECT_EQ(fieldAt<uint16_t>(m, 4), RTM_NEWLINK);
    EXPECT_EQ(fieldAt<uint16_t>(m, 6), NLM_F_REQUEST | NLM_F_ACK);
    EXPECT_EQ(fieldAt<uint32_t>(m, 8), 42u);
    EXPECT_EQ(fieldAt<int32_t>(m, 16 + 4), 7);                  // ifi_index
    EXPECT_EQ(fieldAt<uint32_t>(m, 16 + 12), 0u);               // ifi_change: the flags stay
    EXPECT_EQ(fieldAt<uint16_t>(m, 32), 52u);                   // IFLA_LINKINFO length
    EXPECT_EQ(fieldAt<uint16_t>(m, 34), IFLA_LINKINFO);
    EXPECT_EQ(fieldAt<uint16_t>(m, 36), 8u);                    // IFLA_INFO_KIND length
    EXPECT_EQ(fieldAt<uint16_t>(m, 38), IFLA_INFO_KIND);
    EXPECT_EQ(std::memcmp(m.data() + 40, "can", 4), 0);
    EXPECT_EQ(fieldAt<uint16_t>(m, 44), 40u);                   // IFLA_INFO_DATA length
    EXPECT_EQ(fieldAt<uint16_t>(m, 46), IFLA_INFO_DATA);
    EXPECT_EQ(fieldAt<uint16_t>(m, 48), 36u);                   // IFLA_CAN_BITTIMING length
    EXPECT_EQ(fieldAt<uint16_t>(m, 50), IFLA_CAN_BITTIMING);
    EXPECT_EQ(fieldAt<uint32_t>(m, 52), 500000u);               // bitrate
    for (std::size_t at = 56; at < 84; at += 4) EXPECT_EQ(fieldAt<uint32_t>(m, at), 0u) << at;
}

TEST(SocketCANLinkMessages, LinkStateAndQueryMessages) {
    for (const bool up : {true, false}) {
        const std::vector<uint8_t> m = linkStateMessage(3, up, 9);
        ASSERT_EQ(m.size(), 32u);
        EXPECT_EQ(fieldAt<uint16_t>(m, 4), RTM_NEWLINK);
        EXPECT_EQ(fieldAt<uint16_t>(m, 6), NLM_F_REQUEST | NLM_F_ACK);
        EXPECT_EQ(fieldAt<uint32_t>(m, 16 + 8), up ? unsigned(IFF_UP) : 0u);  // ifi_flags
        EXPECT_EQ(fieldAt<uint32_t>(m, 16 + 12), unsigned(IFF_UP));           // ifi_change
    }
    const std::vector<uint8_t> query = linkQueryMessage(3, 10);
    ASSERT_EQ(query.size(), 32u);
    EXPECT_EQ(fieldAt<uint16_t>(query, 4), RTM_GETLINK);
    EXPECT_EQ(fieldAt<uint16_t>(query, 6), NLM_F_REQUEST);
}

// Appends one netlink message with the given body to `out`.
void appendMessage(std::vector<uint8_t>& out, uint16_t type, uint32_t sequence, const std::vector<uint8_t>& body) {
    nlmsghdr header{};
    header.nlmsg_len = static_cast<uint32_t>(NLMSG_HDRLEN + body.size());
    header.nlmsg_type = type;
    header.nlmsg_seq = sequence;
    const auto* h = reinterpret_cast<const uint8_t*>(&header);
    out.insert(out.end(), h, h + sizeof header);
    out.insert(out.end(), body.begin(), body.end());
    out.resize(NLMSG_ALIGN(out.size()), 0);
}

std::vector<uint8_t> errorBody(int error) {
    nlmsgerr e{};
    e.error = -error;
    const auto* p = reinterpret_cast<const uint8_t*>(&e);
    return {p, p + sizeof e};
}

std::vector<uint8_t> linkBody(const char* kind) {
    std::vector<uint8_t> body(NLMSG_ALIGN(sizeof(ifinfomsg)), 0);
    const uint16_t kind_length = static_cast<uint16_t>(RTA_LENGTH(std::strlen(kind) + 1));
    const uint16_t info_length = static_cast<uint16_t>(RTA_LENGTH(RTA_ALIGN(kind_length)));
    const uint16_t words[] = {8, IFLA_MTU, 16, 0, info_length, IFLA_LINKINFO, kind_length, IFLA_INFO_KIND};
    const auto* w = reinterpret_cast<const uint8_t*>(words);
    body.insert(body.end(), w, w + 4);           // IFLA_MTU header
    body.insert(body.end(), w + 4, w + 8);       // its payload, 16
    body.insert(body.end(), w + 8, w + 16);      // IFLA_LINKINFO and IFLA_INFO_KIND headers
    body.insert(body.end(), kind, kind + std::strlen(kind) + 1);
    body.resize(RTA_ALIGN(body.size()), 0);
    return body;
}

TEST(SocketCANLinkMessages, ParsesTheKernelsAnswers) {
    std::vector<uint8_t> denied;
    appendMessage(denied, NLMSG_ERROR, 5, errorBody(EOPNOTSUPP));  // an earlier request's answer
    appendMessage(denied, NLMSG_ERROR, 6, errorBody(EPERM));
    LinkReply reply = parseLinkReply(denied.data(), denied.size(), 6);
    EXPECT_TRUE(reply.complete);
    EXPECT_EQ(reply.error, EPERM);

    std::vector<uint8_t> ack;
    appendMessage(ack, NLMSG_ERROR, 6, errorBody(0));
    reply = parseLinkReply(ack.data(), ack.size(), 6);
    EXPECT_TRUE(reply.complete);
    EXPECT_EQ(reply.error, 0);

    std::vector<uint8_t> link;
    appendMessage(link, RTM_NEWLINK, 8, linkBody("vcan"));
    reply = parseLinkReply(link.data(), link.size(), 8);
    EXPECT_TRUE(reply.complete);
    EXPECT_EQ(reply.kind, "vcan");

    // Cut anywhere, the answer is incomplete, never read past its end.
    for (std::size_t cut = 0; cut < link.size(); ++cut) {
        const std::vector<uint8_t> part(link.begin(), link.begin() + static_cast<long>(cut));
        const LinkReply partial = parseLinkReply(part.data(), part.size(), 8);
        EXPECT_FALSE(partial.complete) << cut;
    }
}

}  // namespace
}  // namespace kinetra::test
