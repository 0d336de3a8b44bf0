#include "serial/serial_settings.h"

#include <stdexcept>

namespace kinetra {

std::string SerialSettings::getPort() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return port_;
}

void SerialSettings::setTimeout(const serial::Timeout& timeout) {
    std::lock_guard<std::mutex> lock(mutex_);
    timeout_ = timeout;
}

serial::Timeout SerialSettings::getTimeout() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return timeout_;
}

uint32_t SerialSettings::getBaudrate() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return line_.baudrate;
}

std::string SerialSettings::portToOpen() const {
    std::string port = getPort();
    if (port.empty()) throw std::invalid_argument("Empty port is invalid.");
    return port;
}

void SerialSettings::storePort(const std::string& port) {
    std::lock_guard<std::mutex> lock(mutex_);
    port_ = port;
}

LineSettings SerialSettings::lineSettings() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return line_;
}

void SerialSettings::changeLineSettings(const std::function<void(LineSettings&)>& change,
                                        const std::function<void(const LineSettings&)>& apply) {
    LineSettings settings = lineSettings();
    change(settings);
    validateLineSettings(settings);
    apply(settings);
    std::lock_guard<std::mutex> lock(mutex_);
    line_ = settings;
}

}  // namespace kinetra
