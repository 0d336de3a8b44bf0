#pragma once
// A descriptor that close() makes readable, polled beside the port, so a thread
// blocked in a read or write wakes at once instead of at its time-out.

namespace kinetra {

class WakeupEvent {
public:
    /// Creates the event; throws std::system_error when the system refuses.
    WakeupEvent();
    ~WakeupEvent();
    WakeupEvent(const WakeupEvent&) = delete;
    WakeupEvent& operator=(const WakeupEvent&) = delete;

    /// Makes the descriptor readable until reset(). Safe from any thread.
    void signal() noexcept;
    /// Makes the descriptor unreadable again.
    void reset() noexcept;
    /// The descriptor to poll for POLLIN.
    int fd() const { return fd_; }

private:
    int fd_;
};

}  // namespace kinetra
