#pragma once
// The rtnetlink messages that change a CAN interface's bit rate (as
// `ip link set can0 type can bitrate N` does) and read an interface's kind, and
// the reading of the kernel's answers. Pure: bytes in, bytes out.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kinetra::socketcan {

/// RTM_NEWLINK that brings interface `ifindex` up or takes it down; asks for an ack.
std::vector<uint8_t> linkStateMessage(int ifindex, bool up, uint32_t sequence);

/// RTM_NEWLINK with IFLA_LINKINFO { IFLA_INFO_KIND "can", IFLA_INFO_DATA {
/// IFLA_CAN_BITTIMING { bitrate } } }: the kernel computes the rest of the bit
/// timing from the rate. The link must be down. Asks for an ack.
std::vector<uint8_t> bitRateMessage(int ifindex, uint32_t bits_per_second, uint32_t sequence);

/// RTM_GETLINK for interface `ifindex`.
std::vector<uint8_t> linkQueryMessage(int ifindex, uint32_t sequence);

/// What the kernel answered to the request numbered `sequence`.
struct LinkReply {
    /// True once an ack, an error or the link's description was found.
    bool complete = false;
    /// 0 for success, else the errno the kernel reported.
    int error = 0;
    /// The link's kind from IFLA_LINKINFO ("can", "vcan"); empty when it has none.
    std::string kind;
};

/// Reads one datagram of the kernel's answer; messages of other sequence numbers
/// and malformed or truncated parts are skipped.
LinkReply parseLinkReply(const uint8_t* data, std::size_t length, uint32_t sequence);

}  // namespace kinetra::socketcan
