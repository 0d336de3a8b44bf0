// The Windows serial layer over COM ports that scripts/test-windows.sh maps, under
// Wine, to pseudo-terminals: KINETRA_TEST_ECHO_PORT echoes every byte back,
// KINETRA_TEST_HANGUP_PORT closes at the first byte it receives.

#include <kinetra/serial/serial.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

/// Hang guard for waits on another thread; never a timing assertion.
constexpr auto kHangGuard = std::chrono::seconds(20);
/// Read time-out of the tests that expect no byte, in milliseconds.
constexpr uint32_t kShortReadMs = 200;

std::string portFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

class WindowsSerialTest : public ::testing::Test {
protected:
    void SetUp() override {
        port_ = portFromEnvironment("KINETRA_TEST_ECHO_PORT");
        if (port_.empty()) GTEST_SKIP() << "KINETRA_TEST_ECHO_PORT is not set (run make test-windows)";
    }
    std::string port_;
};

/// What open() throws for a name, as the caller sees it.
std::string openFailure(const std::string& name) {
    try {
        serial::Serial port("", 115200, serial::Timeout(serial::Timeout::max(), 1000, 0, 1000, 0));
        port.setPort(name);
        port.open();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "opened";
}

TEST(WindowsSerialOpen, BadNamesFailWithADefinedError) {
    struct Case {
        std::string name;
        std::string expected;  // part of what()
    };
    const Case cases[] = {
        {"", "Empty port is invalid."},
        {"COM249", "Specified port, COM249, does not exist."},
        // Opens (a character device) but is no serial port.
        {"NUL", "Error getting the serial port state."},
        // Longer than any Windows device name.
        {"COM" + std::string(40000, '7'), "IO Exception: "},
        // A NUL inside must not open the port named before it.
        {std::string("COM1\0X", 6), "Specified port, COM1"},
    };
    for (const Case& c : cases) {
        EXPECT_NE(openFailure(c.name).find(c.expected), std::string::npos)
            << "name of " << c.name.size() << " bytes: " << openFailure(c.name);
    }
}

TEST_F(WindowsSerialTest, SecondOpenOfTheSamePortIsRefused) {
    serial::Serial first(port_, 115200);
    EXPECT_THROW(first.open(), serial::SerialException);
    // Wine grants a second exclusive open where Windows refuses it; both refuse here.
    EXPECT_NE(openFailure(port_).find("is in use by another program."), std::string::npos) << openFailure(port_);
    first.close();
    EXPECT_THROW(first.write("x"), serial::PortNotOpenedException);
    std::string line;
    EXPECT_THROW(first.readline(line), serial::PortNotOpenedException);
}

TEST_F(WindowsSerialTest, LinesComeBackSplitAtTheTerminatorOrTheLimit) {
    serial::Serial port(port_, 115200, serial::Timeout(serial::Timeout::max(), kShortReadMs, 0, 1000, 0));
    std::string silent;
    EXPECT_EQ(port.readline(silent, 30, "\r"), 0u);
    EXPECT_TRUE(silent.empty());

    const std::string lines = "t1238AABBCCDD\rV\r";
    ASSERT_EQ(port.write(lines), lines.size());
    std::string first;
    std::string second;
    EXPECT_EQ(port.readline(first, 30, "\r"), 14u);
    EXPECT_EQ(first, "t1238AABBCCDD\r");
    EXPECT_EQ(port.readline(second, 30, "\r"), 2u);
    EXPECT_EQ(second, "V\r");

    const std::string stream(40, 'x');
    ASSERT_EQ(port.write(stream), stream.size());
    std::string head;
    std::string rest;
    EXPECT_EQ(port.readline(head, 30, "\r"), 30u);
    EXPECT_EQ(port.readline(rest, 30, "\r"), 10u);  // the time-out ends it
    EXPECT_EQ(head + rest, stream);
}

TEST_F(WindowsSerialTest, CloseWakesABlockedReadline) {
    serial::Serial port(port_, 115200, serial::Timeout(serial::Timeout::max(), 600000, 0, 1000, 0));
    std::string line;
    auto reader = std::async(std::launch::async, [&] { return port.readline(line, 30, "\r"); });
    // Let the reader block in its read; closing first is handled too (it then
    // finds the port closed), so no ordering is needed for correctness.
    while (reader.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready && port.isOpen()) {
        port.close();
    }
    ASSERT_EQ(reader.wait_for(kHangGuard), std::future_status::ready);
    try {
        EXPECT_EQ(reader.get(), 0u);
    } catch (const serial::PortNotOpenedException&) {
        // close() won the race before readline() took the port.
    }
    EXPECT_FALSE(port.isOpen());
    port.open();  // the port is free again
    EXPECT_TRUE(port.isOpen());
}

// Regression: a pty whose other end closed made every read return at once with
// no byte; the read must report the port as gone instead of timing out for ever.
TEST(WindowsSerialRemoval, ReadOnARemovedPortThrows) {
    const std::string name = portFromEnvironment("KINETRA_TEST_HANGUP_PORT");
    if (name.empty()) GTEST_SKIP() << "KINETRA_TEST_HANGUP_PORT is not set (run make test-windows)";
    serial::Serial port(name, 115200, serial::Timeout(serial::Timeout::max(), 1000, 0, 1000, 0));
    port.write("x");  // the peer hangs up on it
    std::string line;
    auto reader = std::async(std::launch::async, [&] {
        // A few time-outs at most: the removal shows on the first read after it.
        for (int attempt = 0; attempt < 10; ++attempt) port.readline(line, 30, "\r");
    });
    ASSERT_EQ(reader.wait_for(kHangGuard), std::future_status::ready);
    EXPECT_THROW(reader.get(), serial::IOException);
    port.close();
}

}  // namespace
