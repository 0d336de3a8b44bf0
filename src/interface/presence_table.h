#pragma once
// The table of nodes present on the bus, kept from their heartbeats. Time is
// passed in by the caller, so expiry is tested deterministically without sleeping.

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

namespace kinetra {

class PresenceTable {
public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = std::chrono::time_point<Clock, std::chrono::nanoseconds>;

    /// A node whose last heartbeat is this old or older is dropped.
    static constexpr std::chrono::nanoseconds kExpiry{1'001'000'000};

    /// Records a heartbeat of a known node; false when the node is not present
    /// (the caller then reports it as new and calls add()).
    bool refresh(uint32_t node, TimePoint now);
    /// Enters a node unless an entry exists by now.
    void add(uint32_t node, uint8_t device_type, TimePoint now);
    /// Removes every node silent for kExpiry or longer and returns them in
    /// ascending order.
    std::vector<uint32_t> expire(TimePoint now);
    /// Whether the node is present.
    bool contains(uint32_t node) const;
    /// A copy of the table: node -> device type.
    std::map<unsigned int, unsigned char> snapshot() const;
    /// Forgets every node.
    void clear();
    /// Forgets every node and returns them in ascending order.
    std::vector<uint32_t> takeAll();

private:
    struct Entry {
        uint8_t device_type;
        TimePoint last_heartbeat;
    };
    mutable std::mutex mutex_;
    std::map<uint32_t, Entry> nodes_;
};

}  // namespace kinetra
