#pragma once
// Helpers for the USB transport tests: a log the library's threads write while
// the test reads it, a capture of standard output, and the adapter's side of the
// line with the host's heartbeats filtered out.

#include <kinetra/can_device_type.h>
#include <kinetra/interface.h>

#include "support/pty_pair.h"
#include "support/recording_proxy.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <iostream>
#include <mutex>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

namespace kinetra::test {

/// A log stream that the library's threads write to while the test reads it.
class LockedLog : public std::ostream {
public:
    LockedLog() : std::ostream(nullptr) { rdbuf(&buffer_); }

    /// Everything written so far.
    std::string text() {
        std::lock_guard<std::mutex> lock(buffer_.mutex);
        return buffer_.text;
    }

    /// How often `needle` occurs in the log.
    std::size_t count(const std::string& needle) {
        const std::string all = text();
        std::size_t found = 0;
        for (std::size_t pos = all.find(needle); pos != std::string::npos; pos = all.find(needle, pos + 1)) ++found;
        return found;
    }

    /// Waits until `needle` has been written `times` times, at most `timeout`.
    bool waitFor(const std::string& needle, std::size_t times = 1,
                 std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
        std::unique_lock<std::mutex> lock(buffer_.mutex);
        return buffer_.grew.wait_for(lock, timeout, [&] {
            std::size_t found = 0;
            for (std::size_t pos = buffer_.text.find(needle); pos != std::string::npos;
                 pos = buffer_.text.find(needle, pos + 1)) {
                ++found;
            }
            return found >= times;
        });
    }

private:
    struct Buffer : std::streambuf {
        int overflow(int c) override {
            if (c != traits_type::eof()) append(std::string(1, static_cast<char>(c)));
            return c;
        }
        std::streamsize xsputn(const char* s, std::streamsize n) override {
            append(std::string(s, static_cast<std::size_t>(n)));
            return n;
        }
        void append(const std::string& more) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                text += more;
            }
            grew.notify_all();
        }
        std::mutex mutex;
        std::condition_variable grew;
        std::string text;
    };
    Buffer buffer_;
};

/// Redirects std::cout while it lives. Only the test thread and the code under
/// test write to std::cout, and the library's threads never do.
class CoutCapture {
public:
    CoutCapture() : saved_(std::cout.rdbuf(captured_.rdbuf())) {}
    ~CoutCapture() { std::cout.rdbuf(saved_); }
    CoutCapture(const CoutCapture&) = delete;
    CoutCapture& operator=(const CoutCapture&) = delete;

    std::string text() const { return captured_.str(); }

private:
    std::ostringstream captured_;
    std::streambuf* saved_;
};

/// The line of the host's master heartbeat, which the heartbeat thread writes
/// every 200 ms in between whatever a test expects to see; SlcanInterface
/// writes it in the short remote form.
inline const std::string kMasterHeartbeatLine = "R02000001100\r";
inline const std::string kShortMasterHeartbeatLine = "R020000011\r";

/// Reads what the host wrote to the adapter, without the master heartbeats,
/// until `count` bytes have been gathered or `timeout` has passed.
inline std::string readFromHost(PtyPair& pty, std::size_t count,
                                std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string raw;
    std::string filtered;
    while (true) {
        filtered = raw;
        for (const std::string& heartbeat : {kMasterHeartbeatLine, kShortMasterHeartbeatLine}) {
            for (std::size_t pos = filtered.find(heartbeat); pos != std::string::npos;
                 pos = filtered.find(heartbeat, pos)) {
                filtered.erase(pos, heartbeat.size());
            }
        }
        // Only whole lines count, so half a heartbeat is never taken for data.
        const bool whole_lines = raw.empty() || raw.back() == '\r';
        const auto now = std::chrono::steady_clock::now();
        if ((filtered.size() >= count && whole_lines) || now >= deadline) return filtered;
        raw += pty.readUntilFromMaster("\r", std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now));
    }
}

}  // namespace kinetra::test
