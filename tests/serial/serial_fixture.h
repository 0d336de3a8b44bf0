#pragma once
// Shared pieces of the serial port tests: a pseudo-terminal pair and a port on it.

#include <kinetra/serial/serial.h>

#include "support/pty_pair.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace kinetra::test {

/// Time-outs in milliseconds: no inter-byte time-out, reads and writes bounded.
inline serial::Timeout shortTimeout(uint32_t read_ms, uint32_t write_ms = 1000) {
    return serial::Timeout(serial::Timeout::max(), read_ms, 0, write_ms, 0);
}

class SerialOnPty : public ::testing::Test {
protected:
    /// Opens the port on the pair's slave with a read time-out of `read_ms`.
    void openPort(uint32_t read_ms = 100, uint32_t write_ms = 1000) {
        port_ = std::make_unique<serial::Serial>(pty_.slavePath(), 115200, shortTimeout(read_ms, write_ms));
        ASSERT_TRUE(port_->isOpen());
    }

    /// One readline() with the adapter's limit and terminator; returns the line.
    std::string readLine(std::size_t limit = 30, const std::string& eol = "\r") {
        std::string line;
        const std::size_t n = port_->readline(line, limit, eol);
        EXPECT_EQ(n, line.size());
        return line;
    }

    PtyPair pty_;
    std::unique_ptr<serial::Serial> port_;
};

/// Runs `action` and returns how long it took.
template <typename Action>
std::chrono::milliseconds timed(Action&& action) {
    const auto start = std::chrono::steady_clock::now();
    action();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

}  // namespace kinetra::test
