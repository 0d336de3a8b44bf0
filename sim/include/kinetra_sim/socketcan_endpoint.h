#pragma once
/// @file socketcan_endpoint.h
/// The simulated nodes on a Linux SocketCAN interface (vcan0, or a real can0):
/// one more host of the simulated bus, whose adapter is the kernel's CAN stack.
/// Frames of the nodes go out on the interface, where every program on it sees
/// them (the library's SocketCANInterface, candump, Wireshark); frames that
/// programs send on the interface reach the nodes and the bus's other hosts.

#include "kinetra_sim/host_ports.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace kinetra::sim {

class SocketCANEndpoint : public HostPort {
public:
    /// Binds a CAN_RAW socket to `interface` and attaches to `bus`, which must
    /// outlive the endpoint. The interface is taken to have no bit rate, as a
    /// virtual one has none: every node is heard and hears whatever its own rate
    /// (also a bootloader that a firmware update looks for at another rate, since
    /// the host's rate change does nothing on such an interface). Nothing is read
    /// until start(). Throws std::system_error when the interface cannot be opened (no
    /// CAN support, no such interface, not a CAN interface).
    SocketCANEndpoint(const std::string& interface, HostBus& bus);
    /// Stops and detaches from the bus.
    ~SocketCANEndpoint() override;
    SocketCANEndpoint(const SocketCANEndpoint&) = delete;
    SocketCANEndpoint& operator=(const SocketCANEndpoint&) = delete;

    /// Starts the thread that passes the interface's frames to the bus.
    void start();
    /// Stops that thread (at once, it blocks in the kernel) and detaches. Idempotent.
    void stop();

    const std::string& interfaceName() const { return name_; }
    /// Frames dropped because the interface's transmit queue was full or it was down.
    uint64_t framesDropped() const { return dropped_.load(); }

    bool carries(CANBaudRate) const override { return true; }
    /// Writes a node's frame to the interface without waiting; a full queue drops it.
    void frameToHost(const can_frame_data& frame) override;

private:
    void receiveLoop();

    const std::string name_;
    HostBus& bus_;
    int socket_ = -1;
    int wakeup_ = -1;
    bool attached_ = false;
    std::thread thread_;
    std::atomic<uint64_t> dropped_{0};
};

}  // namespace kinetra::sim
