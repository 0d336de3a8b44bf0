#pragma once
/// @file simulator_bus.h
/// One bus of a simulator: its nodes, its timing model and the adapters of the
/// hosts it serves. A simulator holds one or several; each runs on its own
/// threads (a timing thread, an I/O thread per adapter), so buses run in
/// parallel as buses with adapters of their own do.

#include "kinetra_sim/adapter_endpoint.h"
#include "kinetra_sim/node.h"
#include "kinetra_sim/setups.h"
#include "kinetra_sim/traffic.h"
#include "kinetra_sim/virtual_bus.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kinetra::sim {

/// What one bus is made of: its nodes (their identifiers may repeat those of
/// other buses), its adapter's identity and bit rate, and its timing model.
struct BusSetup {
    std::vector<NodeSetup> nodes;
    AdapterSetup adapter;
    TimingSetup timing;
};

class SimulatorBus {
public:
    /// Builds the nodes and opens a pty per host; nothing runs yet. Host k's
    /// adapter tells itself apart by hardware id and serial number; with
    /// `link_path`, host k > 0 has the link `link_path`-(k+1). `host_offset` is
    /// added to the host number of the observer's events. Throws
    /// std::system_error when no pty can be had.
    SimulatorBus(const BusSetup& setup, std::size_t hosts, const std::string& link_path,
                 const TrafficObserver& observer, std::size_t host_offset);
    SimulatorBus(const SimulatorBus&) = delete;
    SimulatorBus& operator=(const SimulatorBus&) = delete;
    /// Stops the threads; the adapters detach before the bus goes.
    ~SimulatorBus();

    /// Starts the adapters' I/O threads and the timing thread.
    void start();
    /// Stops the timing thread first (it pushes frames into the ports), then the adapters.
    void stop();

    /// The first host's port.
    const std::string& portName() const { return hosts_.front()->portName(); }
    /// How many hosts the bus serves.
    std::size_t hosts() const { return hosts_.size(); }
    /// Host `index`'s adapter (from 0). Throws std::out_of_range.
    AdapterEndpoint& host(std::size_t index);
    const AdapterEndpoint& host(std::size_t index) const;
    /// The first node with this id; throws std::out_of_range when there is none.
    Node& node(uint32_t node_id);
    /// The bus with its nodes.
    VirtualBus& bus() { return bus_; }
    /// CPU time of the adapters' I/O threads.
    std::chrono::nanoseconds adapterCpuTime() const;

private:
    VirtualBus bus_;
    // After the bus, so that they detach from it before it goes.
    std::vector<std::unique_ptr<AdapterEndpoint>> hosts_;
};

}  // namespace kinetra::sim
