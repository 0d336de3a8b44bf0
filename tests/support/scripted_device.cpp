#include "support/scripted_device.h"

#include "can/bus.h"

#include <algorithm>

namespace kinetra::test {

ScriptedDevice::ScriptedDevice(MemoryInterface& bus, uint32_t node, uint8_t device_type,
                               std::chrono::milliseconds heartbeat_period)
    : bus_(bus), node_(node), device_type_(device_type), period_(heartbeat_period) {
    listener_id_ = bus_.addListener([this](const can_frame_data& frame) { onHostFrame(frame); });
    worker_ = std::thread([this] { run(); });
}

ScriptedDevice::~ScriptedDevice() {
    bus_.removeListener(listener_id_);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    cv_.notify_all();
    worker_.join();
}

void ScriptedDevice::answer(uint8_t command, std::vector<uint8_t> data, uint8_t dlc) {
    std::lock_guard<std::mutex> lock(mutex_);
    replies_[command] = Reply{command, std::move(data), dlc};
}

void ScriptedDevice::answerWithCommand(uint8_t command, uint8_t reply_command, std::vector<uint8_t> data) {
    std::lock_guard<std::mutex> lock(mutex_);
    replies_[command] = Reply{reply_command, std::move(data), 8};
}

void ScriptedDevice::setReplyDelay(std::chrono::milliseconds delay) {
    std::lock_guard<std::mutex> lock(mutex_);
    reply_delay_ = delay;
}

void ScriptedDevice::setHeartbeatsStopped(bool stopped) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        heartbeats_stopped_ = stopped;
    }
    cv_.notify_all();
}

void ScriptedDevice::setRepliesStopped(bool stopped) {
    std::lock_guard<std::mutex> lock(mutex_);
    replies_stopped_ = stopped;
}

void ScriptedDevice::setHeartbeatData(std::vector<uint8_t> data) {
    std::lock_guard<std::mutex> lock(mutex_);
    heartbeat_data_ = std::move(data);
}

void ScriptedDevice::sendHeartbeat() {
    std::vector<uint8_t> data;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        data = heartbeat_data_;
    }
    bus_.inject(makeFrame(protocol::kHeartbeat, data, static_cast<uint8_t>(std::max<size_t>(data.size(), 1))));
}

int ScriptedDevice::requests(uint8_t command) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = request_counts_.find(command);
    return it == request_counts_.end() ? 0 : it->second;
}

can_frame_data ScriptedDevice::makeFrame(uint8_t command, const std::vector<uint8_t>& data, uint8_t dlc) const {
    can_frame_data frame{};
    frame.can_id = protocol::nodeFrameId(node_, command, device_type_);
    frame.can_dlc = dlc;
    std::copy_n(data.begin(), std::min<size_t>(data.size(), 8), frame.data);
    return frame;
}

void ScriptedDevice::onHostFrame(const can_frame_data& frame) {
    can_frame_data request = frame;
    if (getDeviceIdFromFrame(&request) != node_) return;
    const uint8_t command = getCommandIdFromFrame(&request);
    std::unique_lock<std::mutex> lock(mutex_);
    ++request_counts_[command];
    const auto it = replies_.find(command);
    if (replies_stopped_ || it == replies_.end()) return;
    const can_frame_data reply = makeFrame(it->second.command, it->second.data, it->second.dlc);
    if (reply_delay_.count() == 0) {
        lock.unlock();
        bus_.inject(reply);
        return;
    }
    pending_.push_back(Pending{std::chrono::steady_clock::now() + reply_delay_, reply});
    lock.unlock();
    cv_.notify_all();
}

void ScriptedDevice::run() {
    auto next_heartbeat = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(mutex_);
    while (!quit_) {
        const auto now = std::chrono::steady_clock::now();
        std::vector<can_frame_data> due;
        for (auto it = pending_.begin(); it != pending_.end();) {
            if (it->due <= now) {
                due.push_back(it->frame);
                it = pending_.erase(it);
            } else {
                ++it;
            }
        }
        const bool beat = !heartbeats_stopped_ && now >= next_heartbeat;
        if (beat) next_heartbeat = now + period_;
        if (!due.empty() || beat) {
            lock.unlock();
            for (const auto& frame : due) bus_.inject(frame);
            if (beat) sendHeartbeat();
            lock.lock();
            continue;
        }
        auto wake = next_heartbeat;
        for (const auto& p : pending_) wake = std::min(wake, p.due);
        if (heartbeats_stopped_ && pending_.empty()) {
            cv_.wait(lock);
        } else {
            cv_.wait_until(lock, wake);
        }
    }
}

}  // namespace kinetra::test
