#include "interface/presence_table.h"

namespace kinetra {

bool PresenceTable::refresh(uint32_t node, TimePoint now) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = nodes_.find(node);
    if (it == nodes_.end()) return false;
    it->second.last_heartbeat = now;
    return true;
}

void PresenceTable::add(uint32_t node, uint8_t device_type, TimePoint now) {
    std::lock_guard<std::mutex> lock(mutex_);
    nodes_.emplace(node, Entry{device_type, now});
}

std::vector<uint32_t> PresenceTable::expire(TimePoint now) {
    std::vector<uint32_t> removed;
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = nodes_.begin(); it != nodes_.end();) {
        if (now - it->second.last_heartbeat >= kExpiry) {
            removed.push_back(it->first);
            it = nodes_.erase(it);
        } else {
            ++it;
        }
    }
    return removed;
}

bool PresenceTable::contains(uint32_t node) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return nodes_.count(node) != 0;
}

std::map<unsigned int, unsigned char> PresenceTable::snapshot() const {
    std::map<unsigned int, unsigned char> copy;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [node, entry] : nodes_) copy.emplace(node, entry.device_type);
    return copy;
}

void PresenceTable::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    nodes_.clear();
}

std::vector<uint32_t> PresenceTable::takeAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<uint32_t> nodes;
    nodes.reserve(nodes_.size());
    for (const auto& entry : nodes_) nodes.push_back(entry.first);
    nodes_.clear();
    return nodes;
}

}  // namespace kinetra
