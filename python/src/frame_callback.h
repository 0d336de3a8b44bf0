#pragma once
// A Python callback that sees every frame a bus receives, called on a thread
// of the module's own: the receive thread only queues the frame.

#include <pybind11/pybind11.h>

#include <cstddef>
#include <memory>
#include <thread>

#include "callback_report.h"
#include "frame_queue.h"

namespace kinetra::python {

namespace py = pybind11;

/// The kinetra.Frame of a received frame. Needs the GIL.
py::object frameObject(const TimedFrame& frame);

/// A Python callback fed from a FrameQueue by a thread of its own.
class FrameCallbackThread {
public:
    FrameCallbackThread(py::object callback, std::size_t capacity);
    /// Stops (see stop()).
    ~FrameCallbackThread();
    FrameCallbackThread(const FrameCallbackThread&) = delete;
    FrameCallbackThread& operator=(const FrameCallbackThread&) = delete;
    const std::shared_ptr<FrameQueue>& queue() const { return queue_; }
    /// Whether the caller is this object's thread (inside the callback).
    bool runsHere() const { return thread_.get_id() == std::this_thread::get_id(); }
    /// Delivers what is queued, then ends the thread; releases the GIL while it waits.
    void stop();

private:
    void run();
    std::shared_ptr<FrameQueue> queue_;
    Callback callback_;
    std::thread thread_;
};

}  // namespace kinetra::python
