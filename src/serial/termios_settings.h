#pragma once
// Translation of the port's line settings into a termios record: raw mode plus
// byte size, parity, stop bits and flow control. Pure, so every combination is
// testable without a device.

#include <kinetra/serial/serial.h>

#include <cstdint>

#include <termios.h>

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

/// Puts `tio` into raw mode (no echo, no signals, no CR/LF translation, reads
/// return as soon as one byte is there) with the given byte size, parity, stop
/// bits and flow control. One and a half stop bits become two: Linux has no 1.5.
/// The baud rate is left alone (see standardBaudConstant()). Validates first.
void applyLineSettings(termios& tio, const LineSettings& settings);

/// The termios speed constant for a standard rate (e.g. 115200 -> B115200);
/// false for a rate that needs the custom-rate interface.
bool standardBaudConstant(uint32_t baudrate, speed_t& constant);

}  // namespace kinetra
