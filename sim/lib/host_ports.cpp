#include "kinetra_sim/host_ports.h"

#include <algorithm>

namespace kinetra::sim {

void HostPorts::attach(HostPort& port) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (std::find(ports_.begin(), ports_.end(), &port) == ports_.end()) ports_.push_back(&port);
}

void HostPorts::detach(HostPort& port) {
    std::lock_guard<std::mutex> lock(mutex_);
    ports_.erase(std::remove(ports_.begin(), ports_.end(), &port), ports_.end());
}

void HostPorts::replaceAll(HostPort* port) {
    std::lock_guard<std::mutex> lock(mutex_);
    ports_.clear();
    if (port != nullptr) ports_.push_back(port);
}

void HostPorts::toHosts(const can_frame_data& frame, CANBaudRate rate, const HostPort* skip) const {
    // Held across the calls, so that a port detached meanwhile is never called
    // after detach() returned.
    std::lock_guard<std::mutex> lock(mutex_);
    for (HostPort* port : ports_) {
        if (port != skip && port->carries(rate)) port->frameToHost(frame);
    }
}

std::vector<HostPort*> HostPorts::carrying(CANBaudRate rate, const HostPort* skip) const {
    std::vector<HostPort*> found;
    std::lock_guard<std::mutex> lock(mutex_);
    for (HostPort* port : ports_) {
        if (port != skip && port->carries(rate)) found.push_back(port);
    }
    return found;
}

void HostPorts::toHost(HostPort& port, const can_frame_data& frame) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (std::find(ports_.begin(), ports_.end(), &port) != ports_.end()) port.frameToHost(frame);
}

}  // namespace kinetra::sim
