#include "usb/slcan_host_commands.h"

#include <algorithm>

namespace kinetra::slcan {
namespace {

constexpr std::size_t kTagLength = 8;
constexpr uint32_t kExtendedFlag = 1u << 31;
constexpr uint32_t kRemoteFlag = 1u << 30;
constexpr uint32_t kExtendedIdMask = 0x1FFFFFFFu;

HostLine withKind(HostLineKind kind) {
    HostLine parsed;
    parsed.kind = kind;
    return parsed;
}

// A lone letter: the command is only valid without argument characters.
HostLine bare(std::string_view body, HostLineKind kind) {
    return body.size() == 1 ? withKind(kind) : withKind(HostLineKind::Malformed);
}

// The letter and exactly one code digit no larger than `highest`.
bool codeDigit(std::string_view body, char highest, uint8_t& code) {
    if (body.size() != 2 || body[1] < '0' || body[1] > highest) return false;
    code = static_cast<uint8_t>(body[1] - '0');
    return true;
}

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

uint32_t hexValue(char c) {
    if (c <= '9') return static_cast<uint32_t>(c - '0');
    if (c <= 'F') return static_cast<uint32_t>(c - 'A' + 10);
    return static_cast<uint32_t>(c - 'a' + 10);
}

// Classic SLCAN hosts send a remote request as letter, id and length digit only;
// the frame codec wants the data digits this library writes, so such a line is
// taken here, with no data bytes.
bool bareRemoteRequest(std::string_view body, can_frame_data& frame) {
    const bool extended = body[0] == 'R';
    const std::size_t id_digits = extended ? 8 : 3;
    if (body.size() != id_digits + 2) return false;
    uint32_t id = 0;
    for (std::size_t i = 1; i <= id_digits; ++i) {
        if (!isHex(body[i])) return false;
        id = (id << 4) | hexValue(body[i]);
    }
    const char length = body[id_digits + 1];
    if (length < '0' || length > '8') return false;
    frame = can_frame_data{};
    frame.can_id = (extended ? kExtendedFlag | (id & kExtendedIdMask) : id) | kRemoteFlag;
    frame.can_dlc = static_cast<uint8_t>(length - '0');
    return true;
}

HostLine frameLine(std::string_view body) {
    const DecodedLine decoded = decodeLine(body);
    HostLine parsed;
    if (decoded.kind == LineKind::Frame) {
        parsed.kind = HostLineKind::Frame;
        parsed.frame = decoded.frame;
        return parsed;
    }
    if ((body[0] == 'r' || body[0] == 'R') && bareRemoteRequest(body, parsed.frame)) {
        parsed.kind = HostLineKind::Frame;
        return parsed;
    }
    parsed.kind = HostLineKind::Malformed;
    parsed.frame_error = decoded.kind;
    return parsed;
}

char numberCharacter(uint8_t value) { return static_cast<char>('0' + value); }

}  // namespace

HostLine parseHostLine(std::string_view line) {
    const std::size_t end = line.find(kTerminator);
    const std::string_view body = end == std::string_view::npos ? line : line.substr(0, end);
    if (body.empty()) return withKind(HostLineKind::Empty);

    uint8_t code = 0;
    switch (body[0]) {
        case 't':
        case 'T':
        case 'r':
        case 'R': return frameLine(body);
        case 'O': return bare(body, HostLineKind::OpenChannel);
        case 'C': return bare(body, HostLineKind::CloseChannel);
        case 'd': return bare(body, HostLineKind::EnterDfu);
        case 'V': return bare(body, HostLineKind::FirmwareVersionQuery);
        case 'H': return bare(body, HostLineKind::HardwareVersionQuery);
        case 'G': return bare(body, HostLineKind::BitRateQuery);
        case 'S': {
            if (!codeDigit(body, static_cast<char>('0' + CAN_BAUD_1M), code)) return withKind(HostLineKind::Malformed);
            HostLine parsed = withKind(HostLineKind::SetBitRate);
            parsed.bit_rate = static_cast<CANBaudRate>(code);
            return parsed;
        }
        case 'Z': {
            if (!codeDigit(body, '2', code)) return withKind(HostLineKind::Malformed);
            HostLine parsed = withKind(HostLineKind::Configuration);
            parsed.configuration = static_cast<ConfigurationAction>(code);
            return parsed;
        }
        default: return withKind(HostLineKind::Unknown);
    }
}

std::string firmwareVersionReply(uint8_t major, uint8_t minor, uint8_t patch, std::string_view tag) {
    std::string line{'V', numberCharacter(major), '.', numberCharacter(minor), '.', numberCharacter(patch), '-'};
    line.append(tag.substr(0, kTagLength));
    line.append(kTagLength - std::min(tag.size(), kTagLength), '0');
    line.push_back(kTerminator);
    return line;
}

std::string hardwareVersionReply(uint8_t major, uint8_t minor, uint8_t patch) {
    return std::string{'H', numberCharacter(major), '.', numberCharacter(minor), '.', numberCharacter(patch),
                       kTerminator};
}

std::string bitRateReply(CANBaudRate rate) {
    return std::string{'G', numberCharacter(static_cast<uint8_t>(rate)), kTerminator};
}

std::string dfuInfoReply() { return std::string{'d', kTerminator}; }

}  // namespace kinetra::slcan
