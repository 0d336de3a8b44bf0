#pragma once
// An in-memory bus with the simulated bootloader behind it, for the firmware
// update's unit tests: every frame and every adapter rate change is recorded in
// order with the procedure clock's time, and the bootloader hears a standard
// frame only while the adapter runs at its rate. Replies come at once.

#include "kinetra_sim/bootloader_model.h"
#include "support/manual_clock.h"
#include "support/memory_interface.h"

#include "can/bus.h"
#include "devices/protocol/common_commands.h"

#include <kinetra/can_frame.h>

#include <functional>
#include <mutex>
#include <vector>

namespace kinetra::test {

class BootloaderBus : public MemoryInterface {
public:
    struct Event {
        bool is_rate = false;
        can_frame_data frame{};
        CANBaudRate rate = CAN_BAUD_500K;
        ProcedureClock::clock::time_point at{};
    };

    BootloaderBus(ManualClock& clock, bool in_bootloader) : clock_(clock), in_bootloader_(in_bootloader) {
        sim::BootTiming timing;
        timing.erase_time_scale = 0;
        timing.new_speed_ack_delay = std::chrono::microseconds(0);
        model_.setTiming(timing);
        listener_ = addListener([this](const can_frame_data& frame) { onFrame(frame); });
    }
    ~BootloaderBus() override {
        removeListener(listener_);
        closeInterface();
    }

    ret_interface_t setCANBaudRate(CANBaudRate rate) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            Event event;
            event.is_rate = true;
            event.rate = rate;
            event.at = clock_.now();
            events_.push_back(event);
            rate_ = rate;
        }
        return MemoryInterface::setCANBaudRate(rate);
    }

    /// The rate changes and the frames other than master heartbeats, in order.
    std::vector<Event> events() {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    template <typename Fn>
    auto withModel(Fn&& fn) {
        std::lock_guard<std::mutex> lock(mutex_);
        return fn(model_);
    }
    /// Drops every reply of the bootloader from now on (a device that died).
    void setDead(bool dead) {
        std::lock_guard<std::mutex> lock(mutex_);
        dead_ = dead;
    }
    /// Puts the device back at the start of its bootloader, whatever step it was at.
    void restartBootloader() {
        std::lock_guard<std::mutex> lock(mutex_);
        in_bootloader_ = true;
        model_.restart();
    }
    /// Alters the bootloader's replies on their way to the host (a misaddressed,
    /// refused or empty one); called for each reply in order, on the sending thread.
    void setReplyRewrite(std::function<void(can_frame_data&)> rewrite) {
        std::lock_guard<std::mutex> lock(mutex_);
        rewrite_ = std::move(rewrite);
    }

private:
    void onFrame(const can_frame_data& frame) {
        const bool extended = (frame.can_id & (1u << 31)) != 0;
        std::vector<can_frame_data> replies;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            // Of the device protocol only the entry into the bootloader belongs to the update.
            if (extended &&
                getCommandIdFromFrame(const_cast<can_frame_data*>(&frame)) != protocol::common::kEnterDfuMode) {
                return;
            }
            Event event;
            event.frame = frame;
            event.at = clock_.now();
            events_.push_back(event);
            if (extended) {
                in_bootloader_ = true;
                model_.restart();
                return;
            }
            if (!in_bootloader_ || dead_ || rate_ != model_.rate()) return;
            const sim::BootloaderModel::Result result = model_.receive(frame);
            for (const auto& out : result.replies) {
                replies.push_back(out.frame);
                if (rewrite_) rewrite_(replies.back());
            }
            if (result.started) in_bootloader_ = false;
        }
        for (const auto& reply : replies) inject(reply);
    }

    ManualClock& clock_;
    std::mutex mutex_;
    sim::BootloaderModel model_;
    std::vector<Event> events_;
    CANBaudRate rate_ = CAN_BAUD_500K;
    bool in_bootloader_;
    bool dead_ = false;
    std::function<void(can_frame_data&)> rewrite_;
    int listener_ = 0;
};

}  // namespace kinetra::test
