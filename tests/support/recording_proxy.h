#pragma once
// A device proxy that records the frames the interface routes to it, for tests
// of routing and transports.

#include <kinetra/can_device_type.h>
#include <kinetra/interface.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace kinetra::test {

/// A device proxy that records every frame the interface routes to it.
class RecordingProxy : public CANDeviceType {
public:
    RecordingProxy(Interface& iface, unsigned int node) : iface_(iface) {
        node_id_ = node;
        iface_.registerCANMsgCallback(this);
    }
    ~RecordingProxy() override { iface_.unregisterCANMsgCallback(this); }

    void canMsgCallback(can_frame_data* frame) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            frames_.push_back(*frame);
        }
        arrived_.notify_all();
    }

    /// Waits until at least `count` frames arrived (at most `timeout`), returns all.
    std::vector<can_frame_data> waitForFrames(std::size_t count,
                                              std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
        std::unique_lock<std::mutex> lock(mutex_);
        arrived_.wait_for(lock, timeout, [&] { return frames_.size() >= count; });
        return frames_;
    }

    /// Waits until a frame with `can_id` has arrived, at most `timeout`.
    bool waitForId(uint32_t can_id, std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return arrived_.wait_for(lock, timeout, [&] {
            for (const auto& frame : frames_) {
                if (frame.can_id == can_id) return true;
            }
            return false;
        });
    }

    /// The frames recorded so far.
    std::vector<can_frame_data> frames() {
        std::lock_guard<std::mutex> lock(mutex_);
        return frames_;
    }

    /// Forgets the frames recorded so far.
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        frames_.clear();
    }

private:
    Interface& iface_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<can_frame_data> frames_;
};

}  // namespace kinetra::test
