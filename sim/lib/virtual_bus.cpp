#include "kinetra_sim/virtual_bus.h"

#include "can/bus.h"

#include <algorithm>
#include <exception>

namespace kinetra::sim {
namespace {

using protocol::kExtendedFlag;
using protocol::kMasterFlag;
constexpr uint32_t kNodeIdShift = 7;
constexpr uint32_t kNodeIdMask = 0x3FFFF;
// Heartbeats of several nodes are spread a little so they do not leave in one burst.
constexpr auto kHeartbeatStagger = std::chrono::milliseconds(3);

// While a host frame is delivered at the end of its time on the bus, the nodes'
// replies start from that time, not from when the clock's thread woke up.
thread_local const NodeContext::Clock::time_point* t_bus_time = nullptr;

NodeContext::Clock::time_point busNow() { return t_bus_time != nullptr ? *t_bus_time : NodeContext::Clock::now(); }

}  // namespace

VirtualBus::~VirtualBus() { stop(); }

Node& VirtualBus::addNode(std::unique_ptr<Node> node) {
    node->attach(*this);
    nodes_.push_back(std::move(node));
    return *nodes_.back();
}

Node* VirtualBus::find(uint32_t node_id) const {
    for (const auto& node : nodes_) {
        if (node->nodeId() == node_id) return node.get();
    }
    return nullptr;
}

void VirtualBus::start() {
    timer_.start();
    auto at = Clock::now();
    for (const auto& node : nodes_) {
        heartbeatAt(*node, at);
        if (node->tickPeriod().count() > 0) tickAt(*node, at + node->tickPeriod());
        at += kHeartbeatStagger;
    }
}

void VirtualBus::stop() { timer_.stop(); }

void VirtualBus::setTiming(const TimingSetup& setup) {
    if (!setup.enabled) {
        timeline_.reset();
        return;
    }
    timeline_ = std::make_unique<BusTimeline>(
        setup, timer_, [this](const BusArbiter::Queued& queued, Clock::time_point end) { leftBus(queued, end); });
}

double VirtualBus::busLoad() const { return timeline_ ? timeline_->busLoad() : 0.0; }

std::size_t VirtualBus::framesQueued() const { return timeline_ ? timeline_->framesQueued() : 0; }

void VirtualBus::deliverFromHost(const can_frame_data& frame, CANBaudRate rate, const HostPort& sender) {
    if (timeline_) {
        timeline_->fromHost(frame, rate, Clock::now(), &sender);
        return;
    }
    // The other hosts first: the nodes' immediate replies must not overtake it.
    ports_.toHosts(frame, rate, &sender);
    deliverToNodes(frame, rate);
}

void VirtualBus::leftBus(const BusArbiter::Queued& queued, Clock::time_point end) {
    if (queued.from == nullptr) {
        toHostsTimed(queued.frame, queued.rate, end, queued.host);
        t_bus_time = &end;
        deliverToNodes(queued.frame, queued.rate);
        t_bus_time = nullptr;
        return;
    }
    if (!queued.from->online()) return;
    toHostsTimed(queued.frame, queued.rate, end, nullptr);
}

void VirtualBus::toHostsTimed(const can_frame_data& frame, CANBaudRate rate, Clock::time_point left_bus,
                              const HostPort* skip) {
    // Whether a host hears the frame is decided as it leaves the bus; it is
    // handed over after the serial line, if the host is still attached then.
    for (HostPort* port : ports_.carrying(rate, skip)) {
        timer_.schedule(timeline_->arrivalAtHost(frame, left_bus, port),
                        [this, port, frame] { ports_.toHost(*port, frame); });
    }
}

void VirtualBus::deliverToNodes(const can_frame_data& frame, CANBaudRate rate) {
    const bool extended = (frame.can_id & kExtendedFlag) != 0;
    const bool to_all = (frame.can_id & kMasterFlag) != 0;
    const uint32_t addressed = (frame.can_id >> kNodeIdShift) & kNodeIdMask;
    for (const auto& node : nodes_) {
        if (!node->online() || node->bitRate() != rate) continue;
        try {
            if (!extended) {
                node->receiveStandard(frame);
            } else if (to_all || node->nodeId() == addressed) {
                node->receive(frame);
            }
        } catch (const std::exception&) {
            // A model's fault must not take the adapter's thread down with it.
            ++handler_errors_;
        }
    }
}

void VirtualBus::transmit(Node& from, const can_frame_data& frame, std::chrono::microseconds delay) {
    if (timeline_) {
        const Clock::time_point ready = busNow() + delay;
        if (delay.count() <= 0) {
            timeline_->fromNode(from, frame, from.bitRate(), ready);
            return;
        }
        // The frame takes the bit rate the node has when it is ready to send: a
        // bootloader acknowledges a speed change at its new rate.
        timer_.schedule(ready, [this, &from, frame, ready] {
            if (timeline_) timeline_->fromNode(from, frame, from.bitRate(), ready);
        });
        return;
    }
    if (delay.count() <= 0) {
        toHost(from, frame);
        return;
    }
    timer_.schedule(Clock::now() + delay, [this, &from, frame] { toHost(from, frame); });
}

void VirtualBus::schedule(Clock::time_point at, std::function<void()> action) {
    timer_.schedule(at, std::move(action));
}

void VirtualBus::toHost(Node& from, const can_frame_data& frame) {
    // Checked when the frame leaves: a delayed reply of a node that has since
    // rebooted or changed its rate is lost, as it would be on a real bus.
    if (!from.online()) return;
    ports_.toHosts(frame, from.bitRate(), nullptr);
}

void VirtualBus::heartbeatAt(Node& node, Clock::time_point at) {
    timer_.schedule(at, [this, &node, at] {
        node.sendHeartbeat();
        // Kept on the original grid, but never scheduled in the past after a stall.
        heartbeatAt(node, std::max(at + node.heartbeatPeriod(), Clock::now()));
    });
}

void VirtualBus::tickAt(Node& node, Clock::time_point at) {
    timer_.schedule(at, [this, &node, at] {
        node.advance(Clock::now());
        tickAt(node, std::max(at + node.tickPeriod(), Clock::now()));
    });
}

}  // namespace kinetra::sim
