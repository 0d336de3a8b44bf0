#pragma once
// The CAN network interfaces present, for `kinetra ports` and --socketcan.

#include <string>
#include <vector>

namespace kinetra::cli {

/// The names of the CAN network interfaces (type 280 under class/net), sorted.
/// KINETRA_SYSFS_ROOT, when set, points the listing at another sysfs tree.
std::vector<std::string> listCanInterfaces();

}  // namespace kinetra::cli
