#include "usb/slcan_host_commands.h"

#include "usb/slcan_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kinetra::slcan {
namespace {

struct HostCase {
    std::string line;
    HostLineKind kind;
};

TEST(SlcanHostCommands, ClassifiesEveryCommandLine) {
    const HostCase cases[] = {
        {"O", HostLineKind::OpenChannel},     {"O\r", HostLineKind::OpenChannel},
        {"C", HostLineKind::CloseChannel},    {"d", HostLineKind::EnterDfu},
        {"V", HostLineKind::FirmwareVersionQuery}, {"H", HostLineKind::HardwareVersionQuery},
        {"G", HostLineKind::BitRateQuery},    {"N", HostLineKind::SerialNumberQuery},
        {"N0", HostLineKind::Malformed},      {"S0", HostLineKind::SetBitRate},
        {"S8", HostLineKind::SetBitRate},     {"Z0", HostLineKind::Configuration},
        {"Z2", HostLineKind::Configuration},  {"", HostLineKind::Empty},
        {"\r", HostLineKind::Empty},          {"S9", HostLineKind::Malformed},
        {"S", HostLineKind::Malformed},       {"S44", HostLineKind::Malformed},
        {"Z3", HostLineKind::Malformed},      {"Z", HostLineKind::Malformed},
        {"V1", HostLineKind::Malformed},      {"Ox", HostLineKind::Malformed},
        {"x", HostLineKind::Unknown},         {"\a", HostLineKind::Unknown},
        {"z", HostLineKind::Unknown},         {"T1234", HostLineKind::Malformed},
        {"t12391122334455667788", HostLineKind::Malformed},
        {"T0000008380000000000000000", HostLineKind::Frame},
    };
    for (const auto& c : cases) EXPECT_EQ(parseHostLine(c.line).kind, c.kind) << '"' << c.line << '"';
}

TEST(SlcanHostCommands, CarriesArgumentsAndFrames) {
    EXPECT_EQ(parseHostLine("S4").bit_rate, CAN_BAUD_125K);
    EXPECT_EQ(parseHostLine("Z1").configuration, ConfigurationAction::Erase);
    EXPECT_EQ(parseHostLine("T1234").frame_error, LineKind::Truncated);

    // The library's query for node 1, command 3: remote, DLC 8 with data digits.
    const HostLine query = parseHostLine("R0000008380000000000000000\r");
    EXPECT_EQ(query.frame.can_id, 0xC0000083u);
    EXPECT_EQ(query.frame.can_dlc, 8);

    // The classic remote request without data digits is a frame too.
    const HostLine bare = parseHostLine("R000000838");
    ASSERT_EQ(bare.kind, HostLineKind::Frame);
    EXPECT_EQ(bare.frame.can_id, 0xC0000083u);
    EXPECT_EQ(bare.frame.can_dlc, 8);
    const HostLine standard = parseHostLine("r7FF2");
    ASSERT_EQ(standard.kind, HostLineKind::Frame);
    EXPECT_EQ(standard.frame.can_id, 0x400007FFu);
    // ...but a data frame must carry its bytes.
    EXPECT_EQ(parseHostLine("T000000838").kind, HostLineKind::Malformed);
}

TEST(SlcanHostCommands, TheLibrarysCommandSequencesParseStepByStep) {
    struct Sequence {
        std::string text;
        std::vector<HostLineKind> kinds;
    };
    const Sequence sequences[] = {
        {setBitRateCommand(CAN_BAUD_250K),
         {HostLineKind::CloseChannel, HostLineKind::SetBitRate, HostLineKind::OpenChannel}},
        {saveConfigurationCommand(),
         {HostLineKind::CloseChannel, HostLineKind::Configuration, HostLineKind::OpenChannel}},
        {rebootCommand(), {HostLineKind::CloseChannel, HostLineKind::Configuration, HostLineKind::OpenChannel}},
        {enterDfuCommand(), {HostLineKind::CloseChannel, HostLineKind::EnterDfu}},
        {bitRateQuery(), {HostLineKind::BitRateQuery}},
        {firmwareVersionQuery(), {HostLineKind::FirmwareVersionQuery}},
        {hardwareVersionQuery(), {HostLineKind::HardwareVersionQuery}},
    };
    for (const auto& sequence : sequences) {
        std::vector<HostLineKind> kinds;
        std::size_t start = 0;
        for (std::size_t end; (end = sequence.text.find('\r', start)) != std::string::npos; start = end + 1) {
            kinds.push_back(parseHostLine(std::string_view(sequence.text).substr(start, end - start)).kind);
        }
        EXPECT_EQ(kinds, sequence.kinds) << sequence.text;
    }
}

TEST(SlcanHostCommands, RepliesDecodeToWhatWasSent) {
    const DecodedLine version = decodeLine(firmwareVersionReply(1, 2, 3, "abcdef12"));
    ASSERT_EQ(version.kind, LineKind::FirmwareVersion);
    EXPECT_EQ(version.major, 1);
    EXPECT_EQ(version.minor, 2);
    EXPECT_EQ(version.patch, 3);
    EXPECT_EQ(std::string(version.tag.data(), 8), "abcdef12");
    EXPECT_EQ(firmwareVersionReply(1, 2, 3, "abcdef12"), "V1.2.3-abcdef12\r");
    EXPECT_EQ(firmwareVersionReply(0, 0, 9, "abc"), "V0.0.9-abc00000\r");
    EXPECT_EQ(firmwareVersionReply(0, 0, 9, "abcdefghij"), "V0.0.9-abcdefgh\r");

    const DecodedLine hardware = decodeLine(hardwareVersionReply(2, 1, 0));
    ASSERT_EQ(hardware.kind, LineKind::HardwareVersion);
    EXPECT_EQ(hardware.major, 2);
    EXPECT_EQ(hardware.minor, 1);
    EXPECT_EQ(hardware.patch, 0);

    for (int rate = CAN_BAUD_10K; rate <= CAN_BAUD_1M; ++rate) {
        const DecodedLine reply = decodeLine(bitRateReply(static_cast<CANBaudRate>(rate)));
        ASSERT_EQ(reply.kind, LineKind::BitRate);
        EXPECT_EQ(reply.baud_code, rate);
    }
    EXPECT_EQ(decodeLine(dfuInfoReply()).kind, LineKind::DfuInfo);

    // The generic adapter's forms: four hex digits, four serial characters.
    EXPECT_EQ(genericVersionReply(2, 1, 1, 2), "V2112\r");
    EXPECT_EQ(genericVersionReply(10, 0, 0x1F, 15), "VA0FF\r");
    EXPECT_EQ(serialNumberReply("SIM1"), "NSIM1\r");
    EXPECT_EQ(serialNumberReply("AB"), "NAB00\r");
    EXPECT_EQ(serialNumberReply("ABCDEF"), "NABCD\r");
}

}  // namespace
}  // namespace kinetra::slcan
