#include "frame_callback.h"

#include <chrono>

#include "can/bus.h"
#include "interruptible.h"
#include "thread_end.h"

namespace kinetra::python {

namespace {
using protocol::kExtendedFlag;
using protocol::kRemoteFlag;
/// The identifier bits of can_id: everything below the error flag (bit 29).
constexpr uint32_t kIdentifierMask = (1u << 29) - 1;
/// The most payload bytes a frame carries.
constexpr std::size_t kMaxDlc = sizeof(can_frame_data::data);
}  // namespace

py::object frameObject(const TimedFrame& timed) {
    static py::handle frame_class = py::object(py::module_::import("kinetra._frame").attr("Frame")).release();
    const can_frame_data& frame = timed.frame;
    const bool remote = (frame.can_id & kRemoteFlag) != 0;
    const std::size_t length = remote ? 0 : std::min<std::size_t>(frame.can_dlc, kMaxDlc);
    return frame_class(frame.can_id & kIdentifierMask,
                       py::bytes(reinterpret_cast<const char*>(frame.data), length), frame.can_dlc, remote,
                       (frame.can_id & kExtendedFlag) != 0, timed.timestamp);
}

FrameCallbackThread::FrameCallbackThread(py::object callback, std::size_t capacity)
    : queue_(std::make_shared<FrameQueue>(capacity)) {
    callback_.function = std::move(callback);
    thread_ = std::thread([this] { run(); });
}

FrameCallbackThread::~FrameCallbackThread() { stop(); }

void FrameCallbackThread::stop() {
    queue_->close();
    joinOrDetach(thread_);
}

void FrameCallbackThread::run() {
    // Once the callback stopped this delivery from inside (closing its bus),
    // the object may go as soon as the callback returns and lets go of the
    // GIL: past the callback the thread touches only its own copy of the queue.
    const std::shared_ptr<FrameQueue> queue = queue_;
    TimedFrame frame;
    for (;;) {
        const auto result = queue->pop(frame, kSignalCheckPeriod);
        if (result == FrameQueue::Pop::Closed) return;
        if (result == FrameQueue::Pop::Empty) continue;
        py::gil_scoped_acquire gil;
        // Stopping closes the queue with the GIL held: no call once it returned.
        if (queue->closed()) return;
        callback_("kinetra on_frame callback", frameObject(frame));
    }
}

}  // namespace kinetra::python
