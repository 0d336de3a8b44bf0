#pragma once
// A scripted device on a MemoryInterface: sends heartbeats at a period, answers
// chosen queries with chosen payloads (optionally late or with another command id),
// and can be told to go silent.

#include "support/memory_interface.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace kinetra::test {

class ScriptedDevice {
public:
    ScriptedDevice(MemoryInterface& bus, uint32_t node, uint8_t device_type,
                   std::chrono::milliseconds heartbeat_period = std::chrono::milliseconds(50));
    ~ScriptedDevice();
    ScriptedDevice(const ScriptedDevice&) = delete;
    ScriptedDevice& operator=(const ScriptedDevice&) = delete;

    /// Answers every request for `command` with a data frame carrying `data`.
    void answer(uint8_t command, std::vector<uint8_t> data, uint8_t dlc = 8);
    /// Answers requests for `command` with a reply carrying `reply_command` instead.
    void answerWithCommand(uint8_t command, uint8_t reply_command, std::vector<uint8_t> data);
    /// Delays every reply by `delay`.
    void setReplyDelay(std::chrono::milliseconds delay);
    /// Stops (true) or resumes heartbeats.
    void setHeartbeatsStopped(bool stopped);
    /// Stops (true) or resumes replies.
    void setRepliesStopped(bool stopped);
    /// The heartbeat payload sent from now on.
    void setHeartbeatData(std::vector<uint8_t> data);
    /// Sends one heartbeat now.
    void sendHeartbeat();
    /// Number of requests received for `command`.
    int requests(uint8_t command) const;

private:
    struct Reply {
        uint8_t command;
        std::vector<uint8_t> data;
        uint8_t dlc;
    };
    struct Pending {
        std::chrono::steady_clock::time_point due;
        can_frame_data frame;
    };

    void onHostFrame(const can_frame_data& frame);
    void run();
    can_frame_data makeFrame(uint8_t command, const std::vector<uint8_t>& data, uint8_t dlc) const;

    MemoryInterface& bus_;
    const uint32_t node_;
    const uint8_t device_type_;
    const std::chrono::milliseconds period_;

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::map<uint8_t, Reply> replies_;
    std::map<uint8_t, int> request_counts_;
    std::vector<Pending> pending_;
    std::vector<uint8_t> heartbeat_data_;
    std::chrono::milliseconds reply_delay_{0};
    bool heartbeats_stopped_ = false;
    bool replies_stopped_ = false;
    bool quit_ = false;
    int listener_id_ = -1;
    std::thread worker_;
};

}  // namespace kinetra::test
