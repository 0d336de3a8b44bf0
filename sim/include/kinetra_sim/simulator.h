#pragma once
/// @file simulator.h
/// A simulated Kinetra bus behind a virtual SLCAN adapter on a pseudo-terminal
/// (or several, one per host), for tests, benchmarks, examples and the
/// kinetra-sim program.
///
///     kinetra::sim::Simulator sim({{NodeKind::Driver, 1}, {NodeKind::Imu, 3}});
///     sim.start();
///     sim.registerAsAdapter();          // USBInterface accepts sim.portName()
///     sim.node(1).setHeartbeatsEnabled(false);
///     sim.stop();

#include "kinetra_sim/adapter_endpoint.h"
#include "kinetra_sim/adapter_protocol.h"
#include "kinetra_sim/node.h"
#include "kinetra_sim/setups.h"
#include "kinetra_sim/socketcan_endpoint.h"
#include "kinetra_sim/traffic.h"
#include "kinetra_sim/virtual_bus.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace kinetra::sim {

struct SimulatorOptions {
    AdapterSetup adapter;
    /// Sees every line the adapter exchanges with the host, on the simulator's threads.
    TrafficObserver observer;
    /// Seeds the garbage the adapter sends when told to.
    uint32_t seed = 1;
    /// The bus and adapter timing model; off by default (frames pass at once).
    TimingSetup timing;
    /// When set, a symbolic link at this path names the pty while the adapter is
    /// plugged in, and portName() is this path: it stays the same across replug()
    /// as a udev by-id link does, while the pty behind it changes. With several
    /// hosts the others' links are this path with "-2", "-3", ... appended.
    std::string link_path;
    /// How many hosts the bus serves, each through an adapter of its own on its
    /// own pty (1 to kMaxHosts): a monitor next to an application, or two
    /// programs on one bus. Host k (from 0) has `adapter` with its hardware id
    /// and the last character of its serial number telling it apart.
    std::size_t hosts = 1;
    /// When set, the nodes are also on this Linux SocketCAN interface (vcan0,
    /// can0), whatever their bit rate (a virtual interface has none): programs
    /// there (SocketCANInterface, candump, cansend) see and drive them. The
    /// pseudo-terminal hosts stay.
    std::string socketcan;
    /// The most hosts one simulated bus serves.
    static constexpr std::size_t kMaxHosts = 16;
};

class Simulator {
public:
    /// Builds the nodes and opens a pseudo-terminal per host (so portName() is
    /// valid at once); nothing runs yet. Throws std::system_error when no pty can
    /// be had or the SocketCAN interface cannot be opened, std::invalid_argument
    /// for a host count outside 1 to kMaxHosts.
    explicit Simulator(const std::vector<NodeSetup>& nodes, SimulatorOptions options = {});
    /// Stops the simulator and closes the ptys.
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    /// Starts the adapters' I/O threads and the bus's timing thread: heartbeats
    /// begin at once. Throws std::logic_error after stop().
    void start();
    /// Stops both threads and withdraws the port registration. Idempotent; the
    /// simulator cannot be started again.
    void stop();
    bool running() const { return running_; }

    /// The port the (first) host opens: the link path when one was asked for,
    /// else the pty's slave device, e.g. /dev/pts/7.
    const std::string& portName() const;
    /// Lists every host's port in this process's serial::list_ports() with the
    /// adapter's description (which names the Kinetra Zarvo), so USBInterface
    /// accepts it.
    void registerAsAdapter();

    /// How many hosts the bus serves.
    std::size_t hosts() const { return hosts_.size(); }
    /// Host `index`'s adapter, port and plug (from 0; the first is the one the
    /// functions without an index act on). Throws std::out_of_range.
    AdapterEndpoint& host(std::size_t index);

    /// The first node with this id; throws std::out_of_range when there is none.
    Node& node(uint32_t node_id);
    /// The node with this id as its model class; throws std::out_of_range when
    /// there is none or it is of another class.
    template <typename Model>
    Model& nodeAs(uint32_t node_id) {
        if (auto* model = dynamic_cast<Model*>(&node(node_id))) return *model;
        throw std::out_of_range("simulated node " + std::to_string(node_id) + " is of another class");
    }
    /// The bus with all nodes.
    VirtualBus& bus() { return bus_; }
    /// The (first host's) virtual adapter's state and fault knobs.
    AdapterProtocol& adapter() { return hosts_.front()->adapter(); }
    /// The SocketCAN interface's endpoint when SimulatorOptions::socketcan is
    /// set, else nullptr.
    SocketCANEndpoint* socketcan() { return socketcan_.get(); }

    /// Pulls the (first host's) adapter out: the pty closes, the host's port
    /// fails, the link and the port registration are withdrawn.
    void unplug();
    /// Plugs the adapter back in (pulling it out first if need be): a new pty,
    /// the link and the registration restored, so a host that closes and opens
    /// portName() again reaches the same bus. Call from one thread, not
    /// concurrently with unplug(). Throws std::system_error when no pty can be had.
    void replug();
    bool plugged() const;
    /// Whether a host has the port open. Node frames reach the host only then, as
    /// with a USB adapter whose port no program has open.
    bool hostConnected() const;
    /// Sends `lines` lines of rubbish to the host.
    void sendGarbage(unsigned lines);

    /// CPU time the adapters' I/O threads have used (zero when they do not run).
    std::chrono::nanoseconds adapterCpuTime() const;
    /// CPU time the bus's timing thread has used.
    std::chrono::nanoseconds timingCpuTime() const { return bus_.timingCpuTime(); }

private:
    SimulatorOptions options_;
    VirtualBus bus_;
    // After the bus, so that they detach from it before it goes.
    std::vector<std::unique_ptr<AdapterEndpoint>> hosts_;
    std::unique_ptr<SocketCANEndpoint> socketcan_;
    bool running_ = false;
    bool stopped_ = false;
    uint32_t garbage_batches_ = 0;
};

}  // namespace kinetra::sim
