#pragma once
// Translation of the port's line settings into a termios record: raw mode plus
// byte size, parity, stop bits and flow control. Pure, so every combination is
// testable without a device.

#include "serial/line_settings.h"

#include <cstdint>

#include <termios.h>

namespace kinetra {

/// Puts `tio` into raw mode (no echo, no signals, no CR/LF translation, reads
/// return as soon as one byte is there) with the given byte size, parity, stop
/// bits and flow control. One and a half stop bits become two: Linux has no 1.5.
/// The baud rate is left alone (see standardBaudConstant()). Validates first.
void applyLineSettings(termios& tio, const LineSettings& settings);

/// The termios speed constant for a standard rate (e.g. 115200 -> B115200);
/// false for a rate that needs the custom-rate interface.
bool standardBaudConstant(uint32_t baudrate, speed_t& constant);

}  // namespace kinetra
