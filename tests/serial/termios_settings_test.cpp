#include "serial/termios_settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <ostream>
#include <string>

namespace kinetra {
namespace {

/// A termios record as a cooked terminal would have it, to prove raw mode clears it.
termios cookedTermios() {
    termios tio{};
    tio.c_iflag = ICRNL | IXON | IXANY | BRKINT | INLCR | ISTRIP;
    tio.c_oflag = OPOST | ONLCR;
    tio.c_lflag = ECHO | ICANON | ISIG | IEXTEN;
    tio.c_cflag = CS8 | CREAD | HUPCL | CRTSCTS | PARENB | PARODD | CMSPAR | CSTOPB;
    return tio;
}

TEST(TermiosSettings, RawModePassesEveryByteUnchanged) {
    termios tio = cookedTermios();
    applyLineSettings(tio, LineSettings{});
    EXPECT_EQ(tio.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(tio.c_iflag & (ICRNL | INLCR | ISTRIP | IXON | IXANY), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    EXPECT_EQ(tio.c_cc[VMIN], 1);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
    EXPECT_EQ(tio.c_cflag & HUPCL, tcflag_t(HUPCL)) << "settings not named are kept";
}

struct FlagCase {
    const char* name;
    LineSettings settings;
    tcflag_t cflag_mask;
    tcflag_t cflag_expected;
    tcflag_t iflag_mask;
    tcflag_t iflag_expected;
};

// Test listings and failure reports name the case, not a dump of its bytes.
void PrintTo(const FlagCase& c, std::ostream* os) { *os << c.name; }

class TermiosFlags : public ::testing::TestWithParam<FlagCase> {};

TEST_P(TermiosFlags, MapsSettingToFlags) {
    const FlagCase& c = GetParam();
    termios tio = cookedTermios();
    applyLineSettings(tio, c.settings);
    EXPECT_EQ(tio.c_cflag & c.cflag_mask, c.cflag_expected);
    EXPECT_EQ(tio.c_iflag & c.iflag_mask, c.iflag_expected);
}

LineSettings with(serial::bytesize_t b, serial::parity_t p, serial::stopbits_t s, serial::flowcontrol_t f) {
    return LineSettings{115200, b, p, s, f};
}

constexpr tcflag_t kParity = PARENB | PARODD | CMSPAR;
constexpr tcflag_t kSoft = IXON | IXOFF | IXANY;

INSTANTIATE_TEST_SUITE_P(
    Cases, TermiosFlags,
    ::testing::Values(
        FlagCase{"FiveBits", with(serial::fivebits, serial::parity_none, serial::stopbits_one, serial::flowcontrol_none), CSIZE, CS5, 0, 0},
        FlagCase{"SixBits", with(serial::sixbits, serial::parity_none, serial::stopbits_one, serial::flowcontrol_none), CSIZE, CS6, 0, 0},
        FlagCase{"SevenBits", with(serial::sevenbits, serial::parity_none, serial::stopbits_one, serial::flowcontrol_none), CSIZE, CS7, 0, 0},
        FlagCase{"EightBits", with(serial::eightbits, serial::parity_none, serial::stopbits_one, serial::flowcontrol_none), CSIZE, CS8, 0, 0},
        FlagCase{"NoParity", with(serial::eightbits, serial::parity_none, serial::stopbits_one, serial::flowcontrol_none), kParity, 0, 0, 0},
        FlagCase{"OddParity", with(serial::eightbits, serial::parity_odd, serial::stopbits_one, serial::flowcontrol_none), kParity, PARENB | PARODD, 0, 0},
        FlagCase{"EvenParity", with(serial::eightbits, serial::parity_even, serial::stopbits_one, serial::flowcontrol_none), kParity, PARENB, 0, 0},
        FlagCase{"MarkParity", with(serial::eightbits, serial::parity_mark, serial::stopbits_one, serial::flowcontrol_none), kParity, PARENB | PARODD | CMSPAR, 0, 0},
        FlagCase{"SpaceParity", with(serial::eightbits, serial::parity_space, serial::stopbits_one, serial::flowcontrol_none), kParity, PARENB | CMSPAR, 0, 0},
        FlagCase{"OneStopBit", with(serial::eightbits, serial::parity_none, serial::stopbits_one, serial::flowcontrol_none), CSTOPB, 0, 0, 0},
        FlagCase{"TwoStopBits", with(serial::eightbits, serial::parity_none, serial::stopbits_two, serial::flowcontrol_none), CSTOPB, CSTOPB, 0, 0},
        FlagCase{"OneAndAHalfStopBitsSentAsTwo", with(serial::eightbits, serial::parity_none, serial::stopbits_one_point_five, serial::flowcontrol_none), CSTOPB, CSTOPB, 0, 0},
        FlagCase{"NoFlowControl", with(serial::eightbits, serial::parity_none, serial::stopbits_one, serial::flowcontrol_none), CRTSCTS, 0, kSoft, 0},
        FlagCase{"SoftwareFlowControl", with(serial::eightbits, serial::parity_none, serial::stopbits_one, serial::flowcontrol_software), CRTSCTS, 0, kSoft, IXON | IXOFF},
        FlagCase{"HardwareFlowControl", with(serial::eightbits, serial::parity_none, serial::stopbits_one, serial::flowcontrol_hardware), CRTSCTS, CRTSCTS, kSoft, 0}),
    [](const ::testing::TestParamInfo<FlagCase>& info) { return std::string(info.param.name); });

TEST(TermiosSettings, RejectsValuesOutsideTheirEnumerationWithTheirTexts) {
    struct Case {
        LineSettings settings;
        const char* text;
    };
    const Case cases[] = {
        {with(static_cast<serial::bytesize_t>(4), serial::parity_none, serial::stopbits_one, serial::flowcontrol_none), "invalid char len"},
        {with(static_cast<serial::bytesize_t>(9), serial::parity_none, serial::stopbits_one, serial::flowcontrol_none), "invalid char len"},
        {with(serial::eightbits, static_cast<serial::parity_t>(5), serial::stopbits_one, serial::flowcontrol_none), "invalid parity"},
        {with(serial::eightbits, serial::parity_none, static_cast<serial::stopbits_t>(0), serial::flowcontrol_none), "invalid stop bit"},
        {with(serial::eightbits, serial::parity_none, serial::stopbits_one, static_cast<serial::flowcontrol_t>(3)), "invalid flow control"},
        {LineSettings{0, serial::eightbits, serial::parity_none, serial::stopbits_one, serial::flowcontrol_none}, "invalid baud rate"},
    };
    for (const Case& c : cases) {
        termios tio = cookedTermios();
        const termios before = tio;
        try {
            applyLineSettings(tio, c.settings);
            ADD_FAILURE() << "no exception for " << c.text;
        } catch (const std::invalid_argument& error) {
            EXPECT_STREQ(error.what(), c.text);
        }
        EXPECT_EQ(std::memcmp(&tio, &before, sizeof tio), 0) << "record touched although invalid: " << c.text;
    }
}

TEST(TermiosSettings, StandardRatesHaveConstantsOthersNeedTheCustomPath) {
    speed_t speed = 0;
    EXPECT_TRUE(standardBaudConstant(115200, speed));
    EXPECT_EQ(speed, speed_t(B115200));
    EXPECT_TRUE(standardBaudConstant(9600, speed));
    EXPECT_EQ(speed, speed_t(B9600));
    EXPECT_FALSE(standardBaudConstant(250000, speed));
    EXPECT_FALSE(standardBaudConstant(123457, speed));
}

}  // namespace
}  // namespace kinetra
