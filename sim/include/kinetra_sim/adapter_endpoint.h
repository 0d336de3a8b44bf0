#pragma once
/// @file adapter_endpoint.h
/// One host's adapter: a pseudo-terminal that a program opens as its serial
/// port, with an SLCAN adapter's behaviour behind it, attached to a bus as one
/// of its hosts. Several endpoints on one bus are several adapters on one CAN
/// bus: each has its own channel state and bit rate, and a frame one host sends
/// reaches the bus and every other host whose channel carries it.

#include "kinetra_sim/adapter_protocol.h"
#include "kinetra_sim/host_ports.h"
#include "kinetra_sim/setups.h"
#include "kinetra_sim/traffic.h"

#include <chrono>
#include <memory>
#include <string>

namespace kinetra::sim {

class PtyPort;
class HostWireRelay;

class AdapterEndpoint {
public:
    /// Opens the pseudo-terminal (so portName() is valid at once) and attaches
    /// the adapter to `bus`, which must outlive the endpoint; nothing runs yet.
    /// With `link_path`, a symbolic link at that path names the pty while the
    /// adapter is plugged in, and portName() is the link: it stays the same
    /// across replug() as a udev by-id link does. Throws std::system_error when
    /// no pty can be had or the link cannot be made.
    AdapterEndpoint(AdapterSetup setup, HostBus& bus, std::string link_path = {}, TrafficObserver observer = {});
    /// Stops, detaches from the bus and withdraws the link and the registration.
    ~AdapterEndpoint();
    AdapterEndpoint(const AdapterEndpoint&) = delete;
    AdapterEndpoint& operator=(const AdapterEndpoint&) = delete;

    /// Starts the I/O thread that serves the host.
    void start();
    /// Stops the I/O thread and detaches from the bus, withdrawing the link and
    /// the registration; the endpoint cannot be started again. Idempotent.
    void stop();

    /// The port the host opens: the link path when one was asked for, else the
    /// pty's slave device, e.g. /dev/pts/7.
    const std::string& portName() const { return port_name_; }
    /// Lists the port in this process's serial::list_ports() with the setup's
    /// description and hardware id; kept across replug().
    void registerAsAdapter();

    /// Pulls the adapter out: the pty closes, the host's port fails, the link and
    /// the registration are withdrawn.
    void unplug();
    /// Plugs the adapter back in (pulling it out first if need be) on a new pty.
    /// Call from one thread, not concurrently with unplug(). Throws
    /// std::system_error when no pty can be had, std::logic_error after stop().
    void replug();
    bool plugged() const;
    /// Whether a host has the port open: frames reach the host only then, as
    /// with a USB adapter whose port no program has open.
    bool hostConnected() const;

    /// The adapter's state and fault knobs.
    AdapterProtocol& adapter() { return *adapter_; }
    const AdapterProtocol& adapter() const { return *adapter_; }
    /// CPU time of the I/O thread (zero when it does not run).
    std::chrono::nanoseconds ioCpuTime() const;

private:
    void startPty();
    void registerPort();
    void withdrawRegistration();
    void makeLink();
    void removeLink();

    const std::string link_path_;
    HostBus& bus_;
    std::unique_ptr<HostWireRelay> relay_;
    std::unique_ptr<PtyPort> pty_;
    std::unique_ptr<AdapterProtocol> adapter_;
    std::string port_name_;
    bool running_ = false;
    bool stopped_ = false;
    bool registered_ = false;
    // Whether registerAsAdapter() was called: a replug registers again.
    bool wants_registration_ = false;
};

}  // namespace kinetra::sim
