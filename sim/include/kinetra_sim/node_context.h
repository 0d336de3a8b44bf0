#pragma once
/// @file node_context.h
/// What a simulated node needs from the bus it sits on.

#include <kinetra/can_frame.h>

#include <chrono>
#include <functional>

namespace kinetra::sim {

class Node;

/// The bus as a node sees it. Implemented by VirtualBus (and by fakes in tests).
class NodeContext {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~NodeContext() = default;
    /// Sends `frame` from `from` towards the host after `delay`. Called with the
    /// node's lock held; must not call back into the node.
    virtual void transmit(Node& from, const can_frame_data& frame, std::chrono::microseconds delay) = 0;
    /// Runs `action` on the bus's timing thread at `at`. Called with the node's
    /// lock held; the action runs later without it.
    virtual void schedule(Clock::time_point at, std::function<void()> action) = 0;
};

}  // namespace kinetra::sim
