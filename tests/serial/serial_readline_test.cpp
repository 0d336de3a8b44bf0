#include "serial/serial_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace kinetra::test {
namespace {

using namespace std::chrono_literals;

struct ReadlineCase {
    const char* name;
    std::string sent;
    std::size_t limit;
    std::string eol;
    std::vector<std::string> expected;  // successive readline() results; "" = time-out
};

// Test listings and failure reports name the case, not a dump of its bytes.
void PrintTo(const ReadlineCase& c, std::ostream* os) { *os << c.name; }

class Readline : public SerialOnPty, public ::testing::WithParamInterface<ReadlineCase> {};

TEST_P(Readline, ReturnsEachLineThenTimesOut) {
    const ReadlineCase& c = GetParam();
    openPort(50);
    ASSERT_TRUE(pty_.writeToMaster(c.sent));
    for (const std::string& expected : c.expected) EXPECT_EQ(readLine(c.limit, c.eol), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Readline,
    ::testing::Values(
        ReadlineCase{"BytesAfterTheLineAreKept", "t1230\rT1ABCDE018\r", 30, "\r", {"t1230\r", "T1ABCDE018\r", ""}},
        ReadlineCase{"LimitWithoutTerminator", std::string(40, 'a'), 30, "\r", {std::string(30, 'a'), std::string(10, 'a'), ""}},
        ReadlineCase{"TimeOutHandsOutThePartialLine", "t12", 30, "\r", {"t12", ""}},
        ReadlineCase{"MultiByteTerminator", "ab\r\ncd\r\n", 30, "\r\n", {"ab\r\n", "cd\r\n", ""}},
        ReadlineCase{"EmptyTerminatorReadsToLimit", "abcdefg", 4, "", {"abcd", "efg"}},
        ReadlineCase{"RawBytesPassUnchanged", std::string("\x11\x13\n\x7f\x03\0\r", 7), 30, "\r",
                     {std::string("\x11\x13\n\x7f\x03\0\r", 7)}}),
    [](const ::testing::TestParamInfo<ReadlineCase>& info) { return std::string(info.param.name); });

TEST_F(SerialOnPty, LineArrivingInSeveralChunksIsReturnedWhole) {
    openPort(1000);
    std::thread device([&] {
        for (const char* chunk : {"T1AB", "CDE01", "8112233", "4455667788\r"}) {
            std::this_thread::sleep_for(10ms);
            pty_.writeToMaster(chunk);
        }
    });
    EXPECT_EQ(readLine(), "T1ABCDE0181122334455667788\r");
    device.join();
}

TEST_F(SerialOnPty, SilentPortTimesOutAfterTheReadTimeOutAppendingNothing) {
    openPort(1000);
    std::string line = "kept";
    std::size_t n = 1;
    const auto elapsed = timed([&] { n = port_->readline(line, 30, "\r"); });
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(line, "kept");
    EXPECT_GE(elapsed, 990ms);
    EXPECT_LT(elapsed, 5000ms);
}

TEST_F(SerialOnPty, InterByteTimeOutEndsALineThatStalls) {
    port_ = std::make_unique<serial::Serial>(pty_.slavePath(), 115200, serial::Timeout(30, 10000, 0, 1000, 0));
    ASSERT_TRUE(pty_.writeToMaster("t12"));
    std::string line;
    const auto elapsed = timed([&] { line = readLine(); });
    EXPECT_EQ(line, "t12");
    EXPECT_LT(elapsed, 5000ms) << "the 10 s read time-out should not apply once bytes arrived";
}

TEST_F(SerialOnPty, ZeroReadTimeOutHandsOutWhatIsThereWithoutWaiting) {
    port_ = std::make_unique<serial::Serial>(pty_.slavePath(), 115200, serial::Timeout());
    EXPECT_EQ(readLine(), "");
    ASSERT_TRUE(pty_.writeToMaster("V1"));
    std::string line;
    // The bytes need a moment to cross the pty; poll without a time-out of our own.
    for (int i = 0; i < 200 && line.empty(); ++i) {
        std::this_thread::sleep_for(5ms);
        port_->readline(line, 30, "\r");
    }
    EXPECT_EQ(line, "V1");
}

TEST_F(SerialOnPty, StreamOfFramesArrivesCompleteAndInOrder) {
    openPort(1000);
    constexpr int kLines = 20000;
    std::thread device([&] {
        std::string burst;
        for (int i = 0; i < kLines; ++i) {
            char line[32];
            std::snprintf(line, sizeof line, "T%08X8%016X\r", i, i * 7);
            burst += line;
            if (burst.size() > 3000 || i == kLines - 1) {
                if (!pty_.writeToMaster(burst, 5000ms)) return;
                burst.clear();
            }
        }
    });
    int received = 0;
    for (; received < kLines; ++received) {
        char expected[32];
        std::snprintf(expected, sizeof expected, "T%08X8%016X\r", received, received * 7);
        const std::string line = readLine();
        if (line != expected) {
            ADD_FAILURE() << "line " << received << ": got '" << line << "'";
            break;
        }
    }
    device.join();
    EXPECT_EQ(received, kLines);
}

TEST_F(SerialOnPty, ZeroLimitReadsNothing) {
    openPort(50);
    ASSERT_TRUE(pty_.writeToMaster("t1230\r"));
    EXPECT_EQ(readLine(0), "");
    EXPECT_EQ(readLine(), "t1230\r");
}

}  // namespace
}  // namespace kinetra::test
