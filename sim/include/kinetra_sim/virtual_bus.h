#pragma once
/// @file virtual_bus.h
/// The simulated CAN bus: its nodes, the timing thread that drives heartbeats and
/// delayed replies, and the bit-rate gate between the nodes and the hosts'
/// adapters (one or several).

#include <kinetra/can_frame.h>
#include <kinetra/types.h>

#include "kinetra_sim/bus_timeline.h"
#include "kinetra_sim/bus_timing.h"
#include "kinetra_sim/host_ports.h"
#include "kinetra_sim/node.h"
#include "kinetra_sim/node_context.h"
#include "kinetra_sim/timer_queue.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

namespace kinetra::sim {

class VirtualBus : public NodeContext, public HostBus {
public:
    VirtualBus() = default;
    /// Stops the timing thread before the nodes go.
    ~VirtualBus() override;

    /// Adds a node (before start()) and returns it.
    Node& addNode(std::unique_ptr<Node> node);
    /// The nodes in the order they were added.
    const std::vector<std::unique_ptr<Node>>& nodes() const { return nodes_; }
    /// The first node with this id, or nullptr.
    Node* find(uint32_t node_id) const;

    /// Makes `port` the bus's only host adapter; nullptr disconnects every one.
    void connect(HostPort* port) { ports_.replaceAll(port); }
    void attach(HostPort& port) override { ports_.attach(port); }
    void detach(HostPort& port) override { ports_.detach(port); }
    /// Switches the timing model on or off (before start()); off, frames pass at once.
    void setTiming(const TimingSetup& setup);
    /// Whether the timing model is on.
    bool timed() const { return timeline_ != nullptr; }
    /// Percent of the bus's bit time used over the last second (0 without the model).
    double busLoad() const;
    /// Frames waiting for the bus or on it (0 without the model).
    std::size_t framesQueued() const;

    /// Starts the timing thread: every node's heartbeats (the first at once) and ticks.
    void start();
    /// Stops the timing thread; queued heartbeats and delayed replies are dropped.
    void stop();

    /// A frame `sender`'s host sent while its channel is open at `rate`: every
    /// other host whose adapter carries `rate` hears it (first), and every online
    /// node at that rate if it is addressed to it (its node id, or the master
    /// flag), or if it has a standard identifier.
    void deliverFromHost(const can_frame_data& frame, CANBaudRate rate, const HostPort& sender) override;

    /// Exceptions that node handlers threw (and the bus swallowed).
    uint64_t handlerErrors() const { return handler_errors_.load(); }
    /// CPU time of the timing thread.
    std::chrono::nanoseconds timingCpuTime() const { return timer_.cpuTime(); }

    void transmit(Node& from, const can_frame_data& frame, std::chrono::microseconds delay) override;
    void schedule(Clock::time_point at, std::function<void()> action) override;

private:
    void toHost(Node& from, const can_frame_data& frame);
    // Timing model: the frame reaches each host after its own serial line.
    void toHostsTimed(const can_frame_data& frame, CANBaudRate rate, Clock::time_point left_bus,
                      const HostPort* skip);
    void deliverToNodes(const can_frame_data& frame, CANBaudRate rate);
    void leftBus(const BusArbiter::Queued& queued, Clock::time_point end);
    void heartbeatAt(Node& node, Clock::time_point at);
    void tickAt(Node& node, Clock::time_point at);

    // Declared before timer_ so that the timer, whose actions use the nodes, goes first.
    std::vector<std::unique_ptr<Node>> nodes_;
    HostPorts ports_;
    std::atomic<uint64_t> handler_errors_{0};
    // Before timer_, whose actions use it.
    std::unique_ptr<BusTimeline> timeline_;
    TimerQueue timer_;
};

}  // namespace kinetra::sim
