#pragma once
// Serial port discovery from sysfs: every tty with real hardware behind it, with a
// description and hardware id taken from the USB device when there is one.

#include <kinetra/serial/serial.h>

#include <string>
#include <vector>

namespace kinetra {

/// The serial ports under `sysfs_root` (normally "/sys"), as "/dev/<name>", in
/// natural order of their names (ttyUSB2 before ttyUSB10). Skipped: ttys without
/// a device link (virtual consoles, ptys), the placeholder ports that the 8250
/// driver registers without hardware, and parallel ports. Never throws: an
/// unreadable entry is skipped or listed with empty strings.
std::vector<serial::PortInfo> listSysfsPorts(const std::string& sysfs_root);

/// Whether `a` sorts before `b` with digit runs compared by value.
bool naturalLess(const std::string& a, const std::string& b);

}  // namespace kinetra
