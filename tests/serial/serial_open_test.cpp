#include "serial/serial_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace kinetra::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

/// The IOException that opening `port` throws; fails the test when none is thrown.
serial::IOException openFailure(const std::string& port) {
    try {
        serial::Serial serial_port(port);
    } catch (const serial::IOException& error) {
        return error;
    }
    ADD_FAILURE() << "opening " << port << " did not fail";
    return serial::IOException("", 0, 0);
}

TEST(SerialOpen, ReportsEachOpenFailureWithItsText) {
    struct Case {
        std::string port;
        std::string description;
        int errnum;
    };
    const Case cases[] = {
        {"/dev/ttyKinetraMissing7", "Specified port, /dev/ttyKinetraMissing7, does not exist.", ENOENT},
        {"/dev/null/ttyS0", "Unknown error opening the serial port: 20", ENOTDIR},
        // Not a terminal: opens, then the settings cannot be read.
        {"/dev/null", "Error getting the serial port state.", ENOTTY},
    };
    for (const Case& c : cases) {
        const serial::IOException error = openFailure(c.port);
        EXPECT_THAT(error.what(), StartsWith("IO Exception: " + c.description + ", file src/serial/serial_unix.cpp, line "));
        EXPECT_EQ(error.getErrorNumber(), c.errnum) << c.port;
    }
}

TEST(SerialOpen, EmptyPortIsInvalidAndLeavesPortClosed) {
    serial::Serial port;
    EXPECT_FALSE(port.isOpen());
    try {
        port.open();
        FAIL() << "no exception";
    } catch (const std::invalid_argument& error) {
        EXPECT_STREQ(error.what(), "Empty port is invalid.");
    }
    EXPECT_FALSE(port.isOpen());
}

TEST_F(SerialOnPty, OpeningTwiceThrowsSerialException) {
    openPort();
    try {
        port_->open();
        FAIL() << "no exception";
    } catch (const serial::SerialException& error) {
        EXPECT_STREQ(error.what(), "SerialException Serial port already open. failed.");
    }
    EXPECT_TRUE(port_->isOpen());
}

// Regression: root ignores TIOCEXCL, so exclusivity needs a lock of its own.
TEST_F(SerialOnPty, SecondOpenerInThisProcessIsRefusedUntilTheFirstCloses) {
    openPort();
    const serial::IOException error = openFailure(pty_.slavePath());
    EXPECT_THAT(error.what(), HasSubstr("Serial port " + pty_.slavePath() + " is in use by another program."));
    EXPECT_EQ(error.getErrorNumber(), EBUSY);

    port_->close();
    serial::Serial second(pty_.slavePath());
    EXPECT_TRUE(second.isOpen());
}

TEST_F(SerialOnPty, OpenerInAnotherProcessIsRefused) {
    openPort();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int code = 1;
        try {
            serial::Serial other(pty_.slavePath());
        } catch (const serial::IOException& error) {
            code = std::string(error.what()).find("is in use by another program.") != std::string::npos ? 0 : 2;
        } catch (...) {
            code = 3;
        }
        ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: opened, 2: other IOException, 3: other exception";
}

// Regression: a failure while applying the settings must not leave the port
// locked (the descriptor is released), so a corrected retry succeeds.
TEST_F(SerialOnPty, FailedOpenReleasesThePortForTheNextTry) {
    serial::Serial port("", 115200, shortTimeout(50), static_cast<serial::bytesize_t>(9));
    port.setPort(pty_.slavePath());
    EXPECT_THROW(port.open(), std::invalid_argument);
    EXPECT_FALSE(port.isOpen());
    port.setBytesize(serial::eightbits);
    port.open();
    EXPECT_TRUE(port.isOpen());
}

/// The slave's termios as another opener sees it (root passes TIOCEXCL).
termios deviceSettings(const std::string& path) {
    termios tio{};
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::tcgetattr(fd, &tio), 0);
    ::close(fd);
    return tio;
}

TEST_F(SerialOnPty, SettingsReachTheDeviceAtOnceWhileOpen) {
    openPort();
    const termios initial = deviceSettings(pty_.slavePath());
    EXPECT_EQ(::cfgetospeed(&initial), speed_t(B115200));

    port_->setBaudrate(57600);
    port_->setStopbits(serial::stopbits_two);
    const termios tio = deviceSettings(pty_.slavePath());
    EXPECT_EQ(::cfgetospeed(&tio), speed_t(B57600));
    EXPECT_EQ(tio.c_cflag & CSTOPB, tcflag_t(CSTOPB));
    EXPECT_EQ(tio.c_lflag & (ECHO | ICANON), 0u);
}

// Regression: a pty refuses parity (EINVAL) and keeps 8 data bits; that must not
// make a simulator's port unusable.
TEST_F(SerialOnPty, FramingAPseudoTerminalCannotHaveIsNotAnError) {
    serial::Serial port(pty_.slavePath(), 115200, shortTimeout(50), serial::sevenbits, serial::parity_mark);
    EXPECT_TRUE(port.isOpen());
    port.setParity(serial::parity_even);
    port.setBytesize(serial::fivebits);
    EXPECT_EQ(port.write("ok"), 2u);
    EXPECT_EQ(pty_.readFromMaster(2), "ok");
}

TEST_F(SerialOnPty, NonStandardBaudRateOpensAPseudoTerminal) {
    serial::Serial port(pty_.slavePath(), 250000, shortTimeout(50));
    EXPECT_TRUE(port.isOpen());
    port.setBaudrate(123457);
    EXPECT_EQ(port.getBaudrate(), 123457u);
}

TEST_F(SerialOnPty, RefusedSettingLeavesThePreviousOneInForce) {
    openPort();
    EXPECT_THROW(port_->setParity(static_cast<serial::parity_t>(7)), std::invalid_argument);
    EXPECT_THROW(port_->setBaudrate(0), std::invalid_argument);
    EXPECT_EQ(port_->getBaudrate(), 115200u);
    EXPECT_EQ(deviceSettings(pty_.slavePath()).c_cflag & PARENB, 0u);
    EXPECT_EQ(port_->write("ok"), 2u);
}

TEST(SerialPort, SetPortWhileOpenMovesToTheNewPort) {
    PtyPair first;
    PtyPair second;
    serial::Serial port(first.slavePath(), 115200, shortTimeout(50));
    port.setPort(second.slavePath());
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(port.getPort(), second.slavePath());
    port.write("moved\r");
    EXPECT_EQ(second.readUntilFromMaster("\r"), "moved\r");
    // The first port was released.
    serial::Serial again(first.slavePath());
    EXPECT_TRUE(again.isOpen());
}

TEST(SerialPort, StoresSettingsWhileClosed) {
    serial::Serial port;
    port.setPort("/dev/ttyKinetraMissing7");
    port.setBaudrate(1000000);
    port.setTimeout(serial::Timeout(1, 2, 3, 4, 5));
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.getPort(), "/dev/ttyKinetraMissing7");
    EXPECT_EQ(port.getBaudrate(), 1000000u);
    const serial::Timeout t = port.getTimeout();
    EXPECT_EQ(t.inter_byte_timeout + t.read_timeout_constant + t.read_timeout_multiplier + t.write_timeout_constant +
                  t.write_timeout_multiplier,
              15u);
    port.close();  // no effect when closed
}

}  // namespace
}  // namespace kinetra::test
