#include "serial/serial_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <string>
#include <thread>

namespace kinetra::test {
namespace {

using namespace std::chrono_literals;
using ::testing::StartsWith;

TEST_F(SerialOnPty, WritesExactlyTheBytesGiven) {
    openPort();
    const std::string payloads[] = {
        "C\rS4\rO\r",                            // adapter command: three lines in one write
        "T1ABCDE0188899AABBCCDDEEFF\r",          // longest frame line
        std::string("\n\r\x11\x13\x00\xff", 6),  // no CR/LF translation, no flow-control bytes eaten
    };
    for (const std::string& payload : payloads) {
        EXPECT_EQ(port_->write(payload), payload.size());
        EXPECT_EQ(pty_.readFromMaster(payload.size()), payload);
    }
    EXPECT_EQ(pty_.readFromMaster(1, 20ms), "") << "nothing beyond the bytes given";
}

TEST_F(SerialOnPty, OperationsOnAClosedPortThrowPortNotOpened) {
    openPort();
    port_->close();
    EXPECT_FALSE(port_->isOpen());
    std::string line;
    try {
        port_->readline(line, 30, "\r");
        ADD_FAILURE() << "readline did not throw";
    } catch (const serial::PortNotOpenedException& error) {
        EXPECT_STREQ(error.what(), "PortNotOpenedException Serial::read failed.");
    }
    try {
        port_->write("x");
        ADD_FAILURE() << "write did not throw";
    } catch (const serial::PortNotOpenedException& error) {
        EXPECT_STREQ(error.what(), "PortNotOpenedException Serial::write failed.");
    }
    port_->open();
    EXPECT_TRUE(port_->isOpen());
}

TEST_F(SerialOnPty, CloseFromAnotherThreadWakesABlockedReaderWithWhatItHad) {
    openPort(20000);
    ASSERT_TRUE(pty_.writeToMaster("t12"));
    auto reader = std::async(std::launch::async, [&] {
        std::string line;
        port_->readline(line, 30, "\r");
        return line;
    });
    std::this_thread::sleep_for(50ms);  // let it block
    // The clock starts before close(): a close that itself waits for the blocked
    // read to time out must fail here, not merely the reader's wake-up.
    const auto elapsed = timed([&] {
        port_->close();
        reader.wait_for(2s);
    });
    EXPECT_LT(elapsed, 2000ms) << "close() or the blocked reader waited out the 20 s read time-out";
    EXPECT_EQ(reader.get(), "t12");
}

TEST_F(SerialOnPty, CloseFromAnotherThreadWakesAWriterWaitingForRoom) {
    openPort(50, 20000);
    // The device reads nothing, so the output queue fills and the writer waits.
    const std::string big(1 << 20, 'x');
    auto writer = std::async(std::launch::async, [&] { return port_->write(big); });
    std::this_thread::sleep_for(50ms);
    const auto elapsed = timed([&] {
        port_->close();
        writer.wait_for(2s);
    });
    EXPECT_LT(elapsed, 2000ms) << "close() or the waiting writer waited out the 20 s write time-out";
    EXPECT_LT(writer.get(), big.size());
}

TEST_F(SerialOnPty, WriteThatCannotFinishInTimeThrowsWriteTimeout) {
    openPort(50, 30);
    const std::string big(1 << 20, 'x');
    try {
        port_->write(big);
        FAIL() << "no exception";
    } catch (const serial::IOException& error) {
        EXPECT_THAT(error.what(), StartsWith("IO Exception: Write timeout., file src/serial/serial_unix.cpp, line "));
    }
}

TEST_F(SerialOnPty, CloseAndReopenRaceWithReaderAndWriterSafely) {
    openPort(5, 50);
    std::atomic<bool> stop{false};
    auto hammer = [&](auto operation) {
        return std::async(std::launch::async, [&, operation] {
            while (!stop) {
                try {
                    operation();
                } catch (const serial::PortNotOpenedException&) {
                    std::this_thread::sleep_for(1ms);
                } catch (const serial::IOException&) {
                    // a full output queue; the master drains below
                }
            }
        });
    };
    auto reader = hammer([&] {
        std::string line;
        port_->readline(line, 30, "\r");
    });
    auto writer = hammer([&] { port_->write("t1230\r"); });
    for (int i = 0; i < 50; ++i) {
        pty_.writeToMaster("r1230\r", 10ms);
        pty_.readFromMaster(4096, 1ms);
        port_->close();
        port_->open();
    }
    stop = true;
    reader.get();
    writer.get();
    EXPECT_TRUE(port_->isOpen());
}

// Regression: a vanished port must be an error, not an endless stream of
// empty reads that look like time-outs.
TEST_F(SerialOnPty, VanishedPortMakesReadsAndWritesThrowPromptly) {
    openPort(20000);
    ASSERT_TRUE(pty_.writeToMaster("t1230\rt4561AA\r"));
    EXPECT_EQ(readLine(), "t1230\r");
    pty_.closeMaster();

    // The line already received is still handed out before the error.
    EXPECT_EQ(readLine(), "t4561AA\r");
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::string line;
        const auto elapsed = timed([&] {
            try {
                port_->readline(line, 30, "\r");
                ADD_FAILURE() << "readline did not throw";
            } catch (const serial::IOException& error) {
                EXPECT_THAT(error.what(),
                            StartsWith("IO Exception: Error while reading from the serial port: 5, file "
                                       "src/serial/serial_unix.cpp, line "));
                EXPECT_EQ(error.getErrorNumber(), EIO);
            }
        });
        EXPECT_LT(elapsed, 2000ms);
    }
    try {
        port_->write("t1230\r");
        ADD_FAILURE() << "write did not throw";
    } catch (const serial::IOException& error) {
        EXPECT_THAT(error.what(), StartsWith("IO Exception: Error while writing to the serial port: 5, file "));
    }
    EXPECT_TRUE(port_->isOpen()) << "the caller decides when to close";
}

TEST_F(SerialOnPty, ReaderBlockedWhenThePortVanishesIsWokenWithAnError) {
    openPort(20000);
    auto reader = std::async(std::launch::async, [&] {
        std::string line;
        port_->readline(line, 30, "\r");
    });
    std::this_thread::sleep_for(50ms);
    pty_.closeMaster();
    ASSERT_EQ(reader.wait_for(2s), std::future_status::ready);
    EXPECT_THROW(reader.get(), serial::IOException);
}

}  // namespace
}  // namespace kinetra::test
