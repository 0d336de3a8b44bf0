#include "frame_stream.h"

#include "bus.h"
#include "frame_callback.h"
#include "interruptible.h"

namespace kinetra::python {

FrameStream::FrameStream(Bus& bus, std::size_t capacity, py::object timeout)
    : bus_(&bus), queue_(bus.addFrameQueue(capacity)), timeout_(std::move(timeout)) {
    deadlineAfter(timeout_, "frames");
}

FrameStream::~FrameStream() { close(); }

void FrameStream::close() {
    if (closed_) return;
    closed_ = true;
    bus_->removeFrameQueue(queue_);
}

py::object FrameStream::get(const py::object& timeout) {
    const auto deadline = deadlineAfter(timeout, "frames");
    TimedFrame frame;
    FrameQueue::Pop result = FrameQueue::Pop::Empty;
    waitInterruptibly(
        [&](std::chrono::nanoseconds slice) {
            result = queue_->pop(frame, slice);
            return result != FrameQueue::Pop::Empty;
        },
        deadline);
    if (result != FrameQueue::Pop::Frame) return py::none();
    return frameObject(frame);
}

py::object FrameStream::next() {
    py::object frame = get(timeout_);
    if (frame.is_none()) throw py::stop_iteration();
    return frame;
}

}  // namespace kinetra::python
