#include "usb/slcan_codec.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace kinetra::slcan {
namespace {

can_frame_data makeFrame(uint32_t can_id, uint8_t dlc, std::array<uint8_t, 8> data = {}) {
    can_frame_data frame;
    frame.can_id = can_id;
    frame.can_dlc = dlc;
    std::memcpy(frame.data, data.data(), 8);
    return frame;
}

// --- Encoding --------------------------------------------------------------

struct EncodeCase {
    const char* name;
    can_frame_data frame;
    std::string line;
};

TEST(SlcanEncode, WritesTheExactLine) {
    const EncodeCase cases[] = {
        {"standard data, no bytes", makeFrame(0x123, 0), "t1230\r"},
        {"standard data, two bytes", makeFrame(0x123, 2, {0x0A, 0xFF}), "t12320AFF\r"},
        {"extended data, eight bytes",
         makeFrame(0x80000000u | 0x1ABCDE01u, 8, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}),
         "T1ABCDE0180123456789ABCDEF\r"},
        {"standard remote keeps its data digits", makeFrame(0x40000000u | 0x7FF, 2, {0x12, 0x34}),
         "r7FF21234\r"},
        {"master heartbeat", makeFrame(0xC2000001u, 1), "R02000001100\r"},
        {"standard id carries the low 12 bits", makeFrame(0x1234, 0), "t2340\r"},
        {"error flag is not carried", makeFrame(0xA0000010u, 0), "T000000100\r"},
        {"DLC above 8 is written as 8", makeFrame(0x001, 9, {1, 2, 3, 4, 5, 6, 7, 8}),
         "t00180102030405060708\r"},
    };
    for (const auto& c : cases) {
        char buffer[kMaxFrameLineLength];
        const std::size_t length = encodeFrame(c.frame, buffer);
        EXPECT_EQ(std::string(buffer, length), c.line) << c.name;
        EXPECT_EQ(encodeFrame(c.frame), c.line) << c.name;
    }
}

TEST(SlcanEncode, LongestLineFitsTheDocumentedBound) {
    const auto line = encodeFrame(makeFrame(0xDFFFFFFFu, 8, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(line.size(), kMaxFrameLineLength);
}

// --- Decoding frame lines --------------------------------------------------

struct FrameCase {
    std::string line;
    uint32_t can_id;
    uint8_t dlc;
    std::array<uint8_t, 8> data;
};

TEST(SlcanDecode, DecodesFrameLines) {
    const FrameCase cases[] = {
        {"t7FF201ab\r", 0x7FF, 2, {0x01, 0xAB}},
        {"R000000100\r", 0xC0000010u, 0, {}},
        {"T1abcde0180123456789abcdef\r", 0x9ABCDE01u, 8, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}},
        {"r12321234\r", 0x40000123u, 2, {0x12, 0x34}},
        {"tFFF0\r", 0xFFF, 0, {}},
        {"t1230", 0x123, 0, {}},  // cut by a time-out right before the terminator
        {"TFFFFFFFF0\r", 0x80000000u | 0x1FFFFFFFu, 0, {}},  // masked to 29 bits
        // Remote requests in the classic form, without data digits.
        {"R000002C68\r", 0xC00002C6u, 8, {}},
        {"r1232\r", 0x40000123u, 2, {}},
    };
    for (const auto& c : cases) {
        const DecodedLine decoded = decodeLine(c.line);
        ASSERT_EQ(decoded.kind, LineKind::Frame) << c.line;
        EXPECT_EQ(decoded.frame.can_id, c.can_id) << c.line;
        EXPECT_EQ(decoded.frame.can_dlc, c.dlc) << c.line;
        for (int i = 0; i < 8; ++i) EXPECT_EQ(decoded.frame.data[i], c.data[i]) << c.line << " byte " << i;
    }
}

struct RejectCase {
    std::string line;
    LineKind kind;
};

TEST(SlcanDecode, RejectsMalformedFrameLines) {
    const RejectCase cases[] = {
        {"t1239\r", LineKind::BadLength},
        {"t123a\r", LineKind::BadLength},
        {"TFFFFFFFFF\r", LineKind::BadLength},
        {"t\r", LineKind::Truncated},
        {"t12\r", LineKind::Truncated},
        {"t123\r", LineKind::Truncated},
        {"T1234567\r", LineKind::Truncated},
        {"T12345678\r", LineKind::Truncated},
        {"t1232AA\r", LineKind::Truncated},
        {"t1232AAB\r", LineKind::Truncated},
        {"t1232\r", LineKind::Truncated},  // only a remote request may omit its data
        {"r1232AA\r", LineKind::Truncated},
        {"T123456788001122334455667\r", LineKind::Truncated},
        {"t12G0\r", LineKind::BadDigit},
        {"t123X\r", LineKind::BadDigit},
        {"t1231ZZ\r", LineKind::BadDigit},
        {"t1231 A\r", LineKind::BadDigit},
        {"t1231A\x80\r", LineKind::BadDigit},
        {"T0000001g0\r", LineKind::BadDigit},
        {"t1230FF\r", LineKind::TooLong},
        {"t1231AAB\r", LineKind::TooLong},
    };
    for (const auto& c : cases) EXPECT_EQ(decodeLine(c.line).kind, c.kind) << c.line;
}

TEST(SlcanDecode, RoundTripsRandomFrames) {
    std::mt19937 rng(1234);
    for (int i = 0; i < 5000; ++i) {
        const bool extended = rng() & 1;
        const bool remote = rng() & 1;
        const uint32_t id = extended ? (rng() & 0x1FFFFFFFu) : (rng() & 0xFFFu);
        can_frame_data sent = makeFrame((extended ? 0x80000000u : 0) | (remote ? 0x40000000u : 0) | id,
                                        static_cast<uint8_t>(rng() % 9));
        for (int b = 0; b < sent.can_dlc; ++b) sent.data[b] = static_cast<uint8_t>(rng());

        const DecodedLine decoded = decodeLine(encodeFrame(sent));
        ASSERT_EQ(decoded.kind, LineKind::Frame);
        EXPECT_EQ(decoded.frame.can_id, sent.can_id);
        EXPECT_EQ(decoded.frame.can_dlc, sent.can_dlc);
        EXPECT_EQ(std::memcmp(decoded.frame.data, sent.data, 8), 0);
    }
}

// --- Reply lines and others ------------------------------------------------

TEST(SlcanDecode, DecodesReplyLines) {
    const DecodedLine version = decodeLine("V1.2.3-abcdef12\r");
    ASSERT_EQ(version.kind, LineKind::FirmwareVersion);
    EXPECT_EQ(version.major, 1);
    EXPECT_EQ(version.minor, 2);
    EXPECT_EQ(version.patch, 3);
    EXPECT_EQ(std::string(version.tag.data(), version.tag.size()), "abcdef12");

    const DecodedLine hardware = decodeLine("H2.0.7\r");
    ASSERT_EQ(hardware.kind, LineKind::HardwareVersion);
    EXPECT_EQ(hardware.major, 2);
    EXPECT_EQ(hardware.minor, 0);
    EXPECT_EQ(hardware.patch, 7);

    const DecodedLine rate = decodeLine("G6\r");
    ASSERT_EQ(rate.kind, LineKind::BitRate);
    EXPECT_EQ(rate.baud_code, 6);
}

TEST(SlcanDecode, ClassifiesOtherLines) {
    const RejectCase cases[] = {
        {"d\r", LineKind::DfuInfo},
        {"dfu mode\r", LineKind::DfuInfo},
        {"\r", LineKind::Empty},
        {"", LineKind::Empty},
        {"\a", LineKind::Refused},
        {"\a\r", LineKind::Refused},
        {"x1230\r", LineKind::Unknown},
        {"v1.2.3-abcdef12\r", LineKind::Unknown},  // reply letters are case-sensitive
        {"D\r", LineKind::Unknown},
        {std::string("\0t1230\r", 7), LineKind::Unknown},
        // Replies too short for their fields must not read past the line.
        {"V\r", LineKind::Truncated},
        {"V1.2.3\r", LineKind::Truncated},
        {"V1.2.3-abcdef1\r", LineKind::Truncated},
        {"H1.0\r", LineKind::Truncated},
        {"H\r", LineKind::Truncated},
        {"G\r", LineKind::Truncated},
        // A generic adapter's identity: exactly four characters after the letter.
        {"V1013\r", LineKind::GenericVersion},
        {"V10G3\r", LineKind::Truncated},
        {"V101\r", LineKind::Truncated},
        {"NA123\r", LineKind::SerialNumber},
        {"NA12\r", LineKind::Unknown},
        {"NA1234\r", LineKind::Unknown},
        // Only the characters before the first terminator count.
        {"V1.2.3\r-abcdef12", LineKind::Truncated},
        {"t1230\rFF", LineKind::Frame},
    };
    for (const auto& c : cases) EXPECT_EQ(decodeLine(c.line).kind, c.kind) << "line of " << c.line.size();
}

// --- Garbage -----------------------------------------------------------------

// An independent statement of what a frame line (without terminator) looks like:
// letter, 3 or 8 hex id digits, a length digit 0-8, exactly two hex digits a byte
// (or none at all for a remote request).
bool isWellFormedFrameLine(const std::string& body) {
    const std::string hex = "0123456789abcdefABCDEF";
    if (body.empty() || std::string("tTrR").find(body[0]) == std::string::npos) return false;
    const std::size_t id_digits = (body[0] == 'T' || body[0] == 'R') ? 8 : 3;
    if (body.size() < id_digits + 2) return false;
    const char length = body[id_digits + 1];
    if (length < '0' || length > '8') return false;
    const bool remote = body[0] == 'r' || body[0] == 'R';
    const std::size_t with_data = id_digits + 2 + 2 * static_cast<std::size_t>(length - '0');
    if (body.size() != with_data && !(remote && body.size() == id_digits + 2)) return false;
    for (std::size_t i = 1; i < body.size(); ++i) {
        if (hex.find(body[i]) == std::string::npos) return false;
    }
    return true;
}

TEST(SlcanDecode, GarbageNeverBecomesAFrame) {
    std::mt19937 rng(20240611);
    const std::string alphabet = "tTrRVHGd0123456789abcdefABCDEFgxZ \a\r\n\x7f\x80\xff";
    std::size_t frames = 0;
    for (int i = 0; i < 200000; ++i) {
        std::string line;
        if (rng() % 2 == 0) {
            // A real frame line, then damaged: cut, extended, or one character changed.
            can_frame_data frame = makeFrame(rng(), static_cast<uint8_t>(rng() % 9));
            for (auto& byte : frame.data) byte = static_cast<uint8_t>(rng());
            line = encodeFrame(frame);
            switch (rng() % 4) {
                case 0: line.resize(rng() % (line.size() + 1)); break;
                case 1: line.insert(line.size() - 1, 1, alphabet[rng() % alphabet.size()]); break;
                case 2: line[rng() % line.size()] = static_cast<char>(rng()); break;
                default: break;
            }
        } else {
            const std::size_t length = rng() % (kMaxLineLength + 1);
            for (std::size_t j = 0; j < length; ++j) {
                line += (rng() % 4 == 0) ? static_cast<char>(rng()) : alphabet[rng() % alphabet.size()];
            }
        }
        // An exact-size heap copy lets the address sanitizer catch any read past the line.
        std::vector<char> exact(line.begin(), line.end());
        const DecodedLine decoded = decodeLine(std::string_view(exact.data(), exact.size()));

        const std::string body = line.substr(0, line.find('\r'));
        const bool well_formed = isWellFormedFrameLine(body);
        ASSERT_EQ(decoded.kind == LineKind::Frame, well_formed) << "line of " << line.size() << ": " << line;
        if (well_formed) {
            ++frames;
            EXPECT_EQ(decoded.frame.can_id & 0x20000000u, 0u);
        }
    }
    EXPECT_GT(frames, 1000u);  // the generator does exercise the frame path
}

// --- Command lines -----------------------------------------------------------

TEST(SlcanCommands, BuildsTheExactCommandLines) {
    const std::pair<std::string, std::string> cases[] = {
        {setBitRateCommand(CAN_BAUD_125K), "C\rS4\rO\r"},
        {setBitRateCommand(CAN_BAUD_10K), "C\rS0\rO\r"},
        {setBitRateCommand(CAN_BAUD_1M), "C\rS8\rO\r"},
        {bitRateQuery(), "G\r"},
        {firmwareVersionQuery(), "V\r"},
        {hardwareVersionQuery(), "H\r"},
        {enterDfuCommand(), "C\rd\r"},
        {saveConfigurationCommand(), "C\rZ0\rO\r"},
        {eraseConfigurationCommand(), "C\rZ1\rO\r"},
        {rebootCommand(), "C\rZ2\rO\r"},
    };
    for (const auto& [built, expected] : cases) EXPECT_EQ(built, expected);
}

TEST(SlcanCommands, KnowsTheNineBitRates) {
    for (int rate = 0; rate <= 15; ++rate) {
        EXPECT_EQ(isValidBitRate(static_cast<CANBaudRate>(rate)), rate >= 0 && rate <= 8) << rate;
    }
}

}  // namespace
}  // namespace kinetra::slcan
