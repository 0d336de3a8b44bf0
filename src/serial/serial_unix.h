#pragma once
// The Linux implementation behind serial::Serial: a terminal device in raw mode,
// read and written without blocking and waited on with poll().
//
// Locking: readline() holds read_mutex_, write() and the line-setting setters
// hold write_mutex_; open(), close() and setPort() hold both (read first). The
// descriptor changes only under both locks, so holding either keeps it valid:
// a reader or writer never touches a closed or reused descriptor. close() first
// raises closing_ and signals wakeup_ so a blocked reader or writer lets go of its
// lock at once. The stored settings (SerialSettings) have a lock of their own,
// never held across a wait.

#include <kinetra/serial/serial.h>

#include "serial/line_buffer.h"
#include "serial/serial_settings.h"
#include "serial/termios_settings.h"
#include "serial/wakeup_event.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>

namespace serial {

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
    /// Reads what has arrived into rx_; false when nothing was there (EAGAIN).
    bool readAvailable();
    /// Waits until the port is ready for `events` or the wake-up fires or
    /// `deadline` passes; returns the port's poll events, 0 when it did not become
    /// ready (time-out or wake-up).
    short waitFor(short events, Clock::time_point deadline);

    int fd_ = -1;
    std::atomic<bool> open_{false};

    mutable std::mutex read_mutex_;
    mutable std::mutex write_mutex_;
    kinetra::WakeupEvent wakeup_;
    std::atomic<int> closing_{0};  // close()/setPort() calls in progress
    kinetra::LineBuffer rx_;       // guarded by read_mutex_
};

}  // namespace serial
