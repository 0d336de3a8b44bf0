#pragma once
// Ports without a device in sysfs (a simulator's pseudo-terminal) that this
// process wants list_ports() to show, with the description it chose.

#include <kinetra/serial/serial.h>

#include <mutex>
#include <string>
#include <vector>

namespace kinetra {

class VirtualPortRegistry {
public:
    /// The process-wide registry.
    static VirtualPortRegistry& instance();

    /// Adds `info`, or replaces the entry with the same port name in place.
    void add(const serial::PortInfo& info);
    /// Removes the entry named `port`; unknown names are ignored.
    void remove(const std::string& port);
    /// The entries in the order they were first registered.
    std::vector<serial::PortInfo> ports() const;

private:
    mutable std::mutex mutex_;
    std::vector<serial::PortInfo> ports_;
};

}  // namespace kinetra
