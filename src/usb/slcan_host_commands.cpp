#include "usb/slcan_host_commands.h"

#include <algorithm>

namespace kinetra::slcan {
namespace {

constexpr std::size_t kTagLength = 8;

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

HostLine frameLine(std::string_view body) {
    const DecodedLine decoded = decodeLine(body);
    HostLine parsed;
    if (decoded.kind == LineKind::Frame) {
        parsed.kind = HostLineKind::Frame;
        parsed.frame = decoded.frame;
        return parsed;
    }
    parsed.kind = HostLineKind::Malformed;
    parsed.frame_error = decoded.kind;
    return parsed;
}

char numberCharacter(uint8_t value) { return static_cast<char>('0' + value); }

char hexDigit(uint8_t value) { return kUpperHexDigits[value & 0xF]; }

// Cut or padded with '0' to `length` characters.
void appendField(std::string& line, std::string_view text, std::size_t length) {
    line.append(text.substr(0, length));
    line.append(length - std::min(text.size(), length), '0');
}

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
        case 'N': return bare(body, HostLineKind::SerialNumberQuery);
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
    appendField(line, tag, kTagLength);
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

std::string genericVersionReply(uint8_t hardware_major, uint8_t hardware_minor, uint8_t firmware_major,
                                uint8_t firmware_minor) {
    return std::string{'V',
                       hexDigit(hardware_major),
                       hexDigit(hardware_minor),
                       hexDigit(firmware_major),
                       hexDigit(firmware_minor),
                       kTerminator};
}

std::string serialNumberReply(std::string_view serial) {
    std::string line{'N'};
    appendField(line, serial, kGenericReplyCharacters);
    line.push_back(kTerminator);
    return line;
}

}  // namespace kinetra::slcan
