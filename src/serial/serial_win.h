#pragma once
// The Windows implementation behind serial::Serial: a COM port opened exclusively
// for overlapped transfers, each transfer waited on with a bounded wait beside a
// wake-up event that close() signals.
//
// Locking is that of the Linux implementation: readline() holds read_mutex_,
// write() and the line-setting setters hold write_mutex_; open(), close() and
// setPort() hold both (read first), so the handle changes only under both locks
// and either lock keeps it valid. close() first raises closing_ and signals
// wakeup_, so a blocked reader or writer cancels its own transfer (CancelIoEx)
// and lets go of its lock at once.

#include <kinetra/serial/serial.h>

#include "serial/line_buffer.h"
#include "serial/serial_settings.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>

#include "serial/windows_api.h"

namespace serial {

namespace win {

/// Owns a kernel handle; closes it when destroyed.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    /// The handle, or INVALID_HANDLE_VALUE / nullptr as given.
    HANDLE get() const { return handle_; }
    /// Whether a handle is held.
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    /// Closes the handle held, if any, and holds `handle` instead.
    void reset(HANDLE handle = INVALID_HANDLE_VALUE) noexcept;

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

/// The device path for a port name: "\\.\" + name, which COM10 and above need;
/// a name that already is a device path is used as given.
std::wstring devicePath(const std::string& port);

}  // namespace win

class Serial::SerialImpl : public kinetra::SerialSettings {
public:
    SerialImpl(const std::string& port, uint32_t baudrate, const Timeout& timeout, bytesize_t bytesize,
               parity_t parity, stopbits_t stopbits, flowcontrol_t flowcontrol);
    virtual ~SerialImpl();
    SerialImpl(const SerialImpl&) = delete;
    SerialImpl& operator=(const SerialImpl&) = delete;

    void open();
    bool isOpen() const { return open_.load(std::memory_order_acquire); }
    void close();

    void setPort(const std::string& port);
    /// Changes the line settings with `change`; applies the result first when open,
    /// and stores it only when valid and applied (all or nothing).
    void updateLineSettings(const std::function<void(kinetra::LineSettings&)>& change);

    size_t readline(std::string& buffer, size_t size, const std::string& eol);
    size_t write(const uint8_t* data, size_t size);

private:
    using Clock = std::chrono::steady_clock;

    void openLocked();
    void closeLocked() noexcept;
    void applyLineSettingsLocked(const kinetra::LineSettings& settings);
    /// Waits until a byte arrives, `deadline` passes or close() wakes it; moves
    /// what arrived into rx_. False when nothing arrived.
    bool readSome(Clock::time_point deadline);
    /// Runs the overlapped transfer started on `overlapped` to its end: waits
    /// until it completes, `deadline` passes or close() wakes it, cancelling it in
    /// the latter two cases. Returns the bytes transferred; `aborted` tells
    /// whether it was cancelled. Throws IOException("<what>: <error>") on failure.
    DWORD finishTransfer(OVERLAPPED& overlapped, Clock::time_point deadline, bool& aborted, const char* what);

    win::UniqueHandle handle_;
    std::atomic<bool> open_{false};

    mutable std::mutex read_mutex_;
    mutable std::mutex write_mutex_;
    win::UniqueHandle read_event_;   // manual reset, guarded by read_mutex_
    win::UniqueHandle write_event_;  // manual reset, guarded by write_mutex_
    win::UniqueHandle wakeup_;       // manual reset; close() sets it
    std::atomic<int> closing_{0};    // close()/setPort() calls in progress
    kinetra::LineBuffer rx_;         // guarded by read_mutex_
};

}  // namespace serial
