#pragma once
// The state behind SocketCANInterface: the CAN_RAW socket, the wake-up event that
// ends a blocked receive or a send waiting for queue room, and the link and bus
// states that make sends fail while the interface is down or bus-off.

#include <kinetra/socketcan_interface.h>

#include "interface/log_sink.h"
#include "serial/wakeup_event.h"

#include <atomic>
#include <mutex>
#include <shared_mutex>
#include <string>

struct SocketCANInterface::SocketCANImpl {
    /// `log` is the owning interface's sink, which outlives this object.
    explicit SocketCANImpl(kinetra::LogSink& log) : log_(log) {}
    ~SocketCANImpl() { close(); }
    SocketCANImpl(const SocketCANImpl&) = delete;
    SocketCANImpl& operator=(const SocketCANImpl&) = delete;

    /// Opens a CAN_RAW socket on `name` with error frames enabled. Returns 1 when
    /// bound; 0 with a log line otherwise. Never throws.
    unsigned char open(const std::string& name);
    /// Wakes a blocked receive or send and closes the socket; never throws.
    void close();
    /// One frame to the kernel; waits a bounded time while the queue is full.
    bool send(const can_frame_data& frame);
    /// Waits up to about one second for one data or remote frame; error frames
    /// and refused frames are handled and logged, and return false. Returns at
    /// once when close() is called. Throws when the interface vanished.
    bool receive(can_frame_data& frame);
    /// Sets the bit rate through rtnetlink (see SocketCANInterface).
    ret_interface_t setBitRate(CANBaudRate rate);

    SocketCANBusState busState() const { return bus_state_.load(); }
    std::string name();

private:
    void noteLinkDown(const char* during);
    void noteLinkUp();
    void handleErrorFrame(const struct can_frame& frame);

    kinetra::LogSink& log_;
    kinetra::WakeupEvent wakeup_;
    // Shared by receive and send while they use the socket; close() takes it
    // alone, after the wake-up, so the descriptor is never closed under them.
    std::shared_mutex io_mutex_;
    int fd_ = -1;
    int ifindex_ = 0;
    std::string name_;
    std::atomic<bool> closing_{false};
    std::atomic<bool> link_down_{false};
    std::atomic<SocketCANBusState> bus_state_{SOCKETCAN_ERROR_ACTIVE};
};
