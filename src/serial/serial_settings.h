#pragma once
// What both serial::Serial implementations keep beside their device: the port
// name, the time-outs and the line settings, behind a lock of their own that is
// never held across a wait or a device call.

#include <kinetra/serial/serial.h>

#include "serial/line_settings.h"

#include <functional>
#include <mutex>
#include <string>

namespace kinetra {

class SerialSettings {
public:
    SerialSettings(const std::string& port, const serial::Timeout& timeout, const LineSettings& line)
        : port_(port), timeout_(timeout), line_(line) {}

    /// The port name.
    std::string getPort() const;
    /// Stores the time-outs; read and write calls copy them when they start, so
    /// they need no device call.
    void setTimeout(const serial::Timeout& timeout);
    /// The time-outs.
    serial::Timeout getTimeout() const;
    /// The baud rate.
    uint32_t getBaudrate() const;

protected:
    /// The port name to open; throws std::invalid_argument("Empty port is invalid.")
    /// for an empty one.
    std::string portToOpen() const;
    /// Stores a new port name.
    void storePort(const std::string& port);
    /// The line settings.
    LineSettings lineSettings() const;
    /// Changes a copy of the line settings with `change`, checks it
    /// (validateLineSettings), hands it to `apply` (which throws to refuse it) and
    /// then stores it: all or nothing. The caller serialises its calls.
    void changeLineSettings(const std::function<void(LineSettings&)>& change,
                            const std::function<void(const LineSettings&)>& apply);

private:
    mutable std::mutex mutex_;
    std::string port_;
    serial::Timeout timeout_;
    LineSettings line_;
};

}  // namespace kinetra
