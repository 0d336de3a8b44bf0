#pragma once
/// @file simulator.h
/// A simulated Kinetra bus behind a virtual SLCAN adapter on a pseudo-terminal
/// (or several, one per host), or several such buses, for tests, benchmarks,
/// examples and the kinetra-sim program.
///
///     kinetra::sim::Simulator sim({{NodeKind::Driver, 1}, {NodeKind::Imu, 3}});
///     sim.start();
///     sim.registerAsAdapter();          // USBInterface accepts sim.portName()
///     sim.node(1).setHeartbeatsEnabled(false);
///     sim.stop();
///
/// A robot with a bus per leg: one BusSetup per bus, each with its own nodes
/// (identifiers may repeat across buses), bit rate and timing model, and a port
/// per bus (sim.portOf(b)). The functions without a bus index act on bus 0.

#include "kinetra_sim/adapter_endpoint.h"
#include "kinetra_sim/adapter_protocol.h"
#include "kinetra_sim/node.h"
#include "kinetra_sim/setups.h"
#include "kinetra_sim/simulator_bus.h"
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
    /// The adapter of a single-bus simulator (a simulator of several buses takes
    /// each bus's from its BusSetup).
    AdapterSetup adapter;
    /// Sees every line the adapter exchanges with the host, on the simulator's threads.
    TrafficObserver observer;
    /// Seeds the garbage the adapter sends when told to.
    uint32_t seed = 1;
    /// The bus and adapter timing model; off by default (frames pass at once). A
    /// simulator of several buses takes each bus's from its BusSetup.
    TimingSetup timing;
    /// When set, a symbolic link at this path names the pty while the adapter is
    /// plugged in, and portName() is this path: it stays the same across replug()
    /// as a udev by-id link does, while the pty behind it changes. With several
    /// hosts the others' links are this path with "-2", "-3", ... appended; with
    /// several buses, bus b's (from 0) links are this path with "-bus" and b + 1
    /// appended, then the host's suffix.
    std::string link_path;
    /// How many hosts the bus serves, each through an adapter of its own on its
    /// own pty (1 to kMaxHosts): a monitor next to an application, or two
    /// programs on one bus. Host k (from 0) has `adapter` with its hardware id
    /// and the last character of its serial number telling it apart. With
    /// several buses, every bus serves this many hosts, and the observer's host
    /// number of bus b's host k is b * hosts + k.
    std::size_t hosts = 1;
    /// When set, the nodes (of bus 0) are also on this Linux SocketCAN interface (vcan0,
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
    /// A simulator of several buses (1 to kMaxBuses), each as its setup says;
    /// `options` gives the hosts per bus, the observer, the links and the
    /// SocketCAN interface (of bus 0). Bus b > 0's adapters tell themselves apart
    /// from other buses' by hardware id and serial number. Throws as above, and
    /// std::invalid_argument for a bus count outside 1 to kMaxBuses.
    Simulator(const std::vector<BusSetup>& buses, SimulatorOptions options);
    /// The most buses one simulator runs.
    static constexpr std::size_t kMaxBuses = 15;
    /// Stops the simulator and closes the ptys.
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    /// Starts every bus's adapter I/O threads and timing thread: heartbeats
    /// begin at once. Throws std::logic_error after stop().
    void start();
    /// Stops both threads and withdraws the port registration. Idempotent; the
    /// simulator cannot be started again.
    void stop();
    bool running() const { return running_; }

    /// The port the (first) host opens: the link path when one was asked for,
    /// else the pty's slave device, e.g. /dev/pts/7.
    const std::string& portName() const;
    /// The port of bus `bus`'s (first) host. Throws std::out_of_range.
    const std::string& portOf(std::size_t bus) const;
    /// How many buses the simulator runs.
    std::size_t buses() const { return buses_.size(); }
    /// Bus `index` with its nodes and adapters (from 0). Throws std::out_of_range.
    SimulatorBus& onBus(std::size_t index);
    const SimulatorBus& onBus(std::size_t index) const;
    /// Lists every host's port (of every bus) in this process's serial::list_ports() with the
    /// adapter's description (which names the Kinetra Zarvo), so USBInterface
    /// accepts it.
    void registerAsAdapter();

    /// How many hosts bus 0 serves.
    std::size_t hosts() const { return buses_.front()->hosts(); }
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
    /// Bus 0 with its nodes.
    VirtualBus& bus() { return buses_.front()->bus(); }
    /// The (first host's) virtual adapter's state and fault knobs.
    AdapterProtocol& adapter() { return buses_.front()->host(0).adapter(); }
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

    /// CPU time the adapters' I/O threads of every bus have used (zero when they do not run).
    std::chrono::nanoseconds adapterCpuTime() const;
    /// CPU time every bus's timing thread has used.
    std::chrono::nanoseconds timingCpuTime() const;

private:
    SimulatorOptions options_;
    std::vector<std::unique_ptr<SimulatorBus>> buses_;
    // After the buses' declaration, so that it detaches from bus 0 before that goes.
    std::unique_ptr<SocketCANEndpoint> socketcan_;
    bool running_ = false;
    bool stopped_ = false;
    uint32_t garbage_batches_ = 0;
};

}  // namespace kinetra::sim
