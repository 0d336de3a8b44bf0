#pragma once
// The adapter's wire to whichever pseudo-terminal is plugged in now: the adapter
// keeps one wire for its life while a replug swaps the pty behind it.

#include "kinetra_sim/adapter_protocol.h"

#include <mutex>
#include <string_view>

namespace kinetra::sim {

class HostWireRelay : public HostWire {
public:
    /// Routes later writes to `wire` (null drops them). Waits for a write in
    /// progress, so the previous wire is unused once this returns.
    void connect(HostWire* wire) {
        std::lock_guard<std::mutex> lock(mutex_);
        wire_ = wire;
    }

    void writeToHost(std::string_view bytes) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (wire_ != nullptr) wire_->writeToHost(bytes);
    }

private:
    std::mutex mutex_;
    HostWire* wire_ = nullptr;
};

}  // namespace kinetra::sim
