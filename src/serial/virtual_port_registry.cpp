#include "serial/virtual_port_registry.h"

#include <algorithm>

namespace kinetra {

VirtualPortRegistry& VirtualPortRegistry::instance() {
    static VirtualPortRegistry registry;
    return registry;
}

void VirtualPortRegistry::add(const serial::PortInfo& info) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto same = std::find_if(ports_.begin(), ports_.end(),
                                   [&](const serial::PortInfo& entry) { return entry.port == info.port; });
    if (same != ports_.end()) {
        *same = info;
    } else {
        ports_.push_back(info);
    }
}

void VirtualPortRegistry::remove(const std::string& port) {
    std::lock_guard<std::mutex> lock(mutex_);
    ports_.erase(std::remove_if(ports_.begin(), ports_.end(),
                                [&](const serial::PortInfo& entry) { return entry.port == port; }),
                 ports_.end());
}

std::vector<serial::PortInfo> VirtualPortRegistry::ports() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ports_;
}

}  // namespace kinetra
