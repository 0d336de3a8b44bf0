#pragma once
// Serial port discovery on Windows: the present devices of the Ports class, each
// with its registry "PortName", friendly name and first hardware id.

#include <kinetra/serial/serial.h>

#include <string>
#include <vector>

namespace kinetra {

/// The serial ports present now, in the order Windows reports them. Skipped:
/// devices without a "PortName" value and parallel ports (a name containing
/// "LPT"). A property that cannot be read is an empty string. Never throws for a
/// device it cannot read; an empty list when the device set cannot be had.
std::vector<serial::PortInfo> listSetupDiPorts();

/// A registry string as returned in `size` bytes of `buffer` (at most its
/// capacity), up to its first NUL: the value itself, or of a multi-string the
/// first string. Registry strings need not end with a NUL.
std::string registryString(const char* buffer, unsigned long size);

}  // namespace kinetra
