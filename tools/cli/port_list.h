#pragma once
// The serial ports the tool may use, and the choice of one when none is named.

#include <kinetra/serial/serial.h>

#include <string>
#include <vector>

namespace kinetra::cli {

/// The serial ports present. KINETRA_SYSFS_ROOT, when set, points the listing at
/// another sysfs tree (for tests); virtual ports of this process come after.
std::vector<serial::PortInfo> listPorts();

/// Whether a listed port is the Kinetra adapter.
bool isAdapter(const serial::PortInfo& port);

/// The one adapter among `ports`. Throws CliError(kExitNoAdapter) naming what was
/// found and how to choose when there is none or more than one.
std::string chooseAdapter(const std::vector<serial::PortInfo>& ports);

}  // namespace kinetra::cli
