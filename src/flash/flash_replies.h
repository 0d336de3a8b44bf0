#pragma once
// The bootloader's replies during a firmware update, handed from the receive
// thread to the flashing thread. Unlike the query engine's single slot it keeps
// every matching frame in order while a step is armed: a bootloader answers some
// steps with two or more frames back to back (the last data acknowledge and the
// write-finished one, the read data), and none of them may be lost or merged.

#include <kinetra/can_frame.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace kinetra {

class FlashReplies {
public:
    /// Accepts frames whose identifier is `id` from now on, dropping any kept.
    void arm(uint32_t id);
    /// Accepts nothing more and drops what was kept.
    void disarm();
    /// Called from the receive thread: keeps the frame if it matches the armed id.
    /// Returns whether it was kept.
    bool deliver(const can_frame_data& frame);
    /// Takes the oldest kept frame, waiting up to `wait` for one. False without one.
    bool next(std::chrono::steady_clock::duration wait, can_frame_data& out);

private:
    // A bootloader never sends more than a read's data frames and two acknowledges
    // for one step; a flood beyond that is dropped rather than kept.
    static constexpr std::size_t kMaxKept = 64;

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<can_frame_data> kept_;
    bool armed_ = false;
    uint32_t id_ = 0;
};

}  // namespace kinetra
