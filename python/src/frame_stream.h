#pragma once
// kinetra.FrameStream: what bus.frames() returns, an iterator over the frames
// the bus receives from then on, through a bounded queue that counts what it
// had to drop.

#include <pybind11/pybind11.h>

#include <memory>

#include "frame_queue.h"

namespace kinetra::python {

namespace py = pybind11;

class Bus;

class FrameStream {
public:
    /// Observes `bus` from now on; `timeout` (seconds, None: none) bounds each
    /// wait of the iteration.
    FrameStream(Bus& bus, std::size_t capacity, py::object timeout);
    ~FrameStream();
    FrameStream(const FrameStream&) = delete;
    FrameStream& operator=(const FrameStream&) = delete;

    /// The next frame, waiting up to `timeout` seconds (None: until the stream
    /// or its bus closes); None when none came. Ctrl-C ends the wait.
    py::object get(const py::object& timeout);
    /// The next frame for iteration: StopIteration at the time-out or once closed.
    py::object next();
    /// Stops observing; idempotent.
    void close();
    uint64_t dropped() const { return queue_->dropped(); }

private:
    Bus* bus_;
    std::shared_ptr<FrameQueue> queue_;
    py::object timeout_;
    bool closed_ = false;
};

}  // namespace kinetra::python
