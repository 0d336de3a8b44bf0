#pragma once
// The line settings of a port as serial::Serial stores them, and their check;
// shared by the Linux and Windows implementations.

#include <kinetra/serial/serial.h>

#include <cstdint>

namespace kinetra {

/// The line settings of a port, as stored by serial::Serial.
struct LineSettings {
    uint32_t baudrate = 9600;
    serial::bytesize_t bytesize = serial::eightbits;
    serial::parity_t parity = serial::parity_none;
    serial::stopbits_t stopbits = serial::stopbits_one;
    serial::flowcontrol_t flowcontrol = serial::flowcontrol_none;
};

/// Throws std::invalid_argument ("invalid char len", "invalid stop bit",
/// "invalid parity", "invalid flow control", "invalid baud rate") for a value
/// outside its enumeration, or a baud rate of 0 (which would hang up the line).
void validateLineSettings(const LineSettings& settings);

}  // namespace kinetra
