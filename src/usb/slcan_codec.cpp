#include "usb/slcan_codec.h"

#include "can/bus.h"

namespace kinetra::slcan {
namespace {

constexpr uint8_t kNotHex = 0xFF;
constexpr uint32_t kExtendedIdMask = 0x1FFFFFFFu;
using protocol::kExtendedFlag;
using protocol::kRemoteFlag;
constexpr std::size_t kStandardIdDigits = 3;
constexpr std::size_t kExtendedIdDigits = 8;
constexpr uint8_t kMaxDlc = 8;

// Shortest reply lines that hold every field: "V" reads positions 1, 3, 5 and the
// tag at 7-14, "H" positions 1, 3, 5, "G" position 1.
constexpr std::size_t kFirmwareReplyLength = 15;
constexpr std::size_t kHardwareReplyLength = 6;
constexpr std::size_t kBitRateReplyLength = 2;
constexpr std::size_t kTagOffset = 7;
constexpr std::size_t kGenericReplyLength = 1 + kGenericReplyCharacters;

// One table lookup per character keeps the per-frame decode branch-light.
struct HexTable {
    uint8_t value[256];
    constexpr HexTable() : value{} {
        for (auto& v : value) v = kNotHex;
        for (int c = '0'; c <= '9'; ++c) value[c] = static_cast<uint8_t>(c - '0');
        for (int c = 'A'; c <= 'F'; ++c) value[c] = static_cast<uint8_t>(c - 'A' + 10);
        for (int c = 'a'; c <= 'f'; ++c) value[c] = static_cast<uint8_t>(c - 'a' + 10);
    }
};
constexpr HexTable kHex;

uint8_t hexValue(char c) { return kHex.value[static_cast<unsigned char>(c)]; }

uint8_t digitField(char c) { return static_cast<uint8_t>(c - '0'); }

DecodedLine withKind(LineKind kind) {
    DecodedLine decoded;
    decoded.kind = kind;
    return decoded;
}

// Reads `count` hex digits from `text` (which holds at least that many) into
// `value`; false at the first non-hex character.
bool readHex(const char* text, std::size_t count, uint32_t& value) {
    uint32_t result = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const uint8_t nibble = hexValue(text[i]);
        if (nibble == kNotHex) return false;
        result = (result << 4) | nibble;
    }
    value = result;
    return true;
}

DecodedLine decodeFrame(std::string_view body, bool extended, bool remote) {
    const std::size_t id_digits = extended ? kExtendedIdDigits : kStandardIdDigits;
    const std::size_t dlc_position = 1 + id_digits;
    if (body.size() <= dlc_position) return withKind(LineKind::Truncated);

    uint32_t id = 0;
    uint32_t dlc = 0;
    if (!readHex(body.data() + 1, id_digits, id) || !readHex(body.data() + dlc_position, 1, dlc)) {
        return withKind(LineKind::BadDigit);
    }
    if (dlc > kMaxDlc) return withKind(LineKind::BadLength);

    const std::size_t data_position = dlc_position + 1;
    // Classic SLCAN adapters send a remote request without data digits: it has
    // no data on the bus. This library writes them, so both forms are read.
    const bool bare_remote = remote && body.size() == data_position;
    const std::size_t data_bytes = bare_remote ? 0 : dlc;
    const std::size_t expected_length = data_position + 2 * data_bytes;
    if (body.size() < expected_length) return withKind(LineKind::Truncated);

    DecodedLine decoded;
    for (std::size_t i = 0; i < data_bytes; ++i) {
        uint32_t byte = 0;
        if (!readHex(body.data() + data_position + 2 * i, 2, byte)) return withKind(LineKind::BadDigit);
        decoded.frame.data[i] = static_cast<uint8_t>(byte);
    }
    // Checked after the digits so that a bad character anywhere is reported as such.
    if (body.size() > expected_length) return withKind(LineKind::TooLong);

    if (extended) id &= kExtendedIdMask;
    decoded.kind = LineKind::Frame;
    decoded.frame.can_id = (extended ? kExtendedFlag : 0u) | (remote ? kRemoteFlag : 0u) | id;
    decoded.frame.can_dlc = static_cast<uint8_t>(dlc);
    return decoded;
}

// The four characters after the letter of a generic adapter's reply.
DecodedLine genericReply(std::string_view body, LineKind kind) {
    DecodedLine decoded = withKind(kind);
    for (std::size_t i = 1; i < kGenericReplyLength; ++i) decoded.tag[i - 1] = body[i];
    return decoded;
}

DecodedLine decodeFirmwareVersion(std::string_view body) {
    uint32_t digits = 0;
    if (body.size() == kGenericReplyLength && readHex(body.data() + 1, kGenericReplyCharacters, digits)) {
        return genericReply(body, LineKind::GenericVersion);
    }
    if (body.size() < kFirmwareReplyLength) return withKind(LineKind::Truncated);
    DecodedLine decoded = withKind(LineKind::FirmwareVersion);
    decoded.major = digitField(body[1]);
    decoded.minor = digitField(body[3]);
    decoded.patch = digitField(body[5]);
    for (std::size_t i = 0; i < decoded.tag.size(); ++i) decoded.tag[i] = body[kTagOffset + i];
    return decoded;
}

DecodedLine decodeHardwareVersion(std::string_view body) {
    if (body.size() < kHardwareReplyLength) return withKind(LineKind::Truncated);
    DecodedLine decoded = withKind(LineKind::HardwareVersion);
    decoded.major = digitField(body[1]);
    decoded.minor = digitField(body[3]);
    decoded.patch = digitField(body[5]);
    return decoded;
}

DecodedLine decodeBitRate(std::string_view body) {
    if (body.size() < kBitRateReplyLength) return withKind(LineKind::Truncated);
    DecodedLine decoded = withKind(LineKind::BitRate);
    decoded.baud_code = digitField(body[1]);
    return decoded;
}

std::string configurationCommand(char code) {
    return std::string("C\rZ") + code + "\rO\r";
}

}  // namespace

std::size_t encodeFrame(const can_frame_data& frame, char* out, RemoteForm form) {
    const bool extended = (frame.can_id & kExtendedFlag) != 0;
    const bool remote = (frame.can_id & kRemoteFlag) != 0;
    const std::size_t id_digits = extended ? kExtendedIdDigits : kStandardIdDigits;
    const uint32_t id = frame.can_id & kExtendedIdMask;
    const uint8_t dlc = frame.can_dlc > kMaxDlc ? kMaxDlc : frame.can_dlc;

    std::size_t pos = 0;
    out[pos++] = remote ? (extended ? 'R' : 'r') : (extended ? 'T' : 't');
    for (std::size_t i = id_digits; i-- > 0;) out[pos++] = kUpperHexDigits[(id >> (4 * i)) & 0xF];
    out[pos++] = kUpperHexDigits[dlc];
    const uint8_t data_bytes = remote && form == RemoteForm::Short ? 0 : dlc;
    for (uint8_t i = 0; i < data_bytes; ++i) {
        out[pos++] = kUpperHexDigits[frame.data[i] >> 4];
        out[pos++] = kUpperHexDigits[frame.data[i] & 0xF];
    }
    out[pos++] = kTerminator;
    return pos;
}

std::string encodeFrame(const can_frame_data& frame, RemoteForm form) {
    char buffer[kMaxFrameLineLength];
    return std::string(buffer, encodeFrame(frame, buffer, form));
}

DecodedLine decodeLine(std::string_view line) {
    const std::size_t end = line.find(kTerminator);
    const std::string_view body = end == std::string_view::npos ? line : line.substr(0, end);
    if (body.empty()) return withKind(LineKind::Empty);

    switch (body[0]) {
        case 't': return decodeFrame(body, false, false);
        case 'T': return decodeFrame(body, true, false);
        case 'r': return decodeFrame(body, false, true);
        case 'R': return decodeFrame(body, true, true);
        case 'V': return decodeFirmwareVersion(body);
        case 'H': return decodeHardwareVersion(body);
        case 'G': return decodeBitRate(body);
        case 'd': return withKind(LineKind::DfuInfo);
        case 'N':
            return body.size() == kGenericReplyLength ? genericReply(body, LineKind::SerialNumber)
                                                      : withKind(LineKind::Unknown);
        case kBell: return withKind(LineKind::Refused);
        default: return withKind(LineKind::Unknown);
    }
}

bool isValidBitRate(CANBaudRate rate) {
    const int value = static_cast<int>(rate);
    return value >= CAN_BAUD_10K && value <= CAN_BAUD_1M;
}

std::string setBitRateCommand(CANBaudRate rate) {
    return std::string("C\rS") + static_cast<char>('0' + static_cast<int>(rate)) + "\rO\r";
}

std::string bitRateQuery() { return "G\r"; }
std::string firmwareVersionQuery() { return "V\r"; }
std::string hardwareVersionQuery() { return "H\r"; }
std::string enterDfuCommand() { return "C\rd\r"; }
std::string saveConfigurationCommand() { return configurationCommand('0'); }
std::string eraseConfigurationCommand() { return configurationCommand('1'); }
std::string rebootCommand() { return configurationCommand('2'); }

}  // namespace kinetra::slcan
