#include "flash/flash_replies.h"

namespace kinetra {

void FlashReplies::arm(uint32_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    kept_.clear();
    id_ = id;
    armed_ = true;
}

void FlashReplies::disarm() {
    std::lock_guard<std::mutex> lock(mutex_);
    kept_.clear();
    armed_ = false;
}

bool FlashReplies::deliver(const can_frame_data& frame) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!armed_ || frame.can_id != id_ || kept_.size() >= kMaxKept) return false;
        kept_.push_back(frame);
    }
    cv_.notify_all();
    return true;
}

bool FlashReplies::next(std::chrono::steady_clock::duration wait, can_frame_data& out) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!cv_.wait_for(lock, wait, [this] { return !kept_.empty(); })) return false;
    out = kept_.front();
    kept_.pop_front();
    return true;
}

}  // namespace kinetra
