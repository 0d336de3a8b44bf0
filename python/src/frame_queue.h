#pragma once
// A bounded queue of received frames between the library's receive thread and
// Python. The receive thread only pushes (never waits for the GIL, never
// blocks on a full queue: the newest frame is dropped and counted); Python
// pops with a bounded wait.

#include <kinetra/can_frame.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>

namespace kinetra::python {

/// A frame with the time it arrived, in seconds of the monotonic clock
/// (Python's time.monotonic()).
struct TimedFrame {
    can_frame_data frame;
    double timestamp = 0.0;
};

class FrameQueue {
public:
    /// Holds at most `capacity` frames (at least 1).
    explicit FrameQueue(std::size_t capacity);

    /// Queues a frame, or counts it as dropped when the queue is full or closed.
    /// Any thread; never blocks beyond the queue's lock.
    void push(const TimedFrame& frame);

    enum class Pop { Frame, Empty, Closed };
    /// Takes the oldest frame, waiting up to `wait` for one. Closed once the
    /// queue is closed and drained.
    Pop pop(TimedFrame& frame, std::chrono::nanoseconds wait);

    /// Ends the stream: waiting pops return, later pushes are dropped.
    void close();

    /// How many frames were dropped because the queue was full.
    uint64_t dropped() const;

private:
    const std::size_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<TimedFrame> frames_;
    uint64_t dropped_ = 0;
    bool closed_ = false;
};

}  // namespace kinetra::python
