#include "frame_queue.h"

#include <algorithm>

namespace kinetra::python {

FrameQueue::FrameQueue(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 1)) {}

void FrameQueue::push(const TimedFrame& frame) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) return;
        if (frames_.size() >= capacity_) {
            ++dropped_;
            return;
        }
        frames_.push_back(frame);
    }
    ready_.notify_one();
}

FrameQueue::Pop FrameQueue::pop(TimedFrame& frame, std::chrono::nanoseconds wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait_for(lock, wait, [this] { return closed_ || !frames_.empty(); });
    if (frames_.empty()) return closed_ ? Pop::Closed : Pop::Empty;
    frame = frames_.front();
    frames_.pop_front();
    return Pop::Frame;
}

void FrameQueue::close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    ready_.notify_all();
}

uint64_t FrameQueue::dropped() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}

}  // namespace kinetra::python
