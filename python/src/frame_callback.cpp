#include "frame_callback.h"

#include <chrono>

#include "interruptible.h"

namespace kinetra::python {

namespace {
/// The identifier bits of can_id, and its remote and extended flags.
constexpr uint32_t kIdentifierMask = 0x1FFFFFFF;
constexpr uint32_t kRemoteFlag = 0x40000000;
constexpr uint32_t kExtendedFlag = 0x80000000;
constexpr uint8_t kMaxDlc = 8;
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
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id()) {
        // The callback itself stopped its delivery: the thread ends once it returns.
        thread_.detach();
        return;
    }
    if (PyGILState_Check()) {
        py::gil_scoped_release release;
        thread_.join();
    } else {
        thread_.join();
    }
}

void FrameCallbackThread::run() {
    TimedFrame frame;
    for (;;) {
        const auto result = queue_->pop(frame, kSignalCheckPeriod);
        if (result == FrameQueue::Pop::Closed) return;
        if (result == FrameQueue::Pop::Empty) continue;
        py::gil_scoped_acquire gil;
        callback_("kinetra on_frame callback", frameObject(frame));
    }
}

}  // namespace kinetra::python
