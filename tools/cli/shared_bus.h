#pragma once
// One real adapter shared by several programs: each gets a pseudo-terminal that
// behaves as a generic SLCAN adapter on the same bus (the simulator's adapter
// endpoints, attached to the real adapter instead of a simulated bus).

#include <kinetra/usb_interface.h>

#include "kinetra_sim/adapter_endpoint.h"
#include "kinetra_sim/host_ports.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kinetra::cli {

class SharedBus : public kinetra::sim::HostBus {
public:
    /// `adapter` is open at `rate` and outlives this; `say` gets the share's
    /// notes (a refused rate change), one line each, on the ports' threads.
    SharedBus(Interface& adapter, CANBaudRate rate, std::function<void(const std::string&)> say);
    /// Stops the ports.
    ~SharedBus() override;
    SharedBus(const SharedBus&) = delete;
    SharedBus& operator=(const SharedBus&) = delete;

    /// Opens `hosts` ports and starts serving them. With `link`, the first port is
    /// also reached through a symbolic link at that path, the others at "-2", "-3"...
    /// Throws std::system_error when no pty or link can be had.
    void open(std::size_t hosts, const std::string& link);
    /// The ports' names, in order.
    std::vector<std::string> portNames() const;

    /// A frame the real adapter received: every port at the bus's rate hears it.
    void fromAdapter(const can_frame_data& frame);

    void attach(kinetra::sim::HostPort& port) override { ports_.attach(port); }
    void detach(kinetra::sim::HostPort& port) override { ports_.detach(port); }
    /// Sent on the real adapter when `rate` is the bus's, and heard by the other
    /// ports at that rate, as on a bus; a frame at another rate reaches nobody.
    void deliverFromHost(const can_frame_data& frame, CANBaudRate rate, const kinetra::sim::HostPort& sender) override;
    /// The bus's rate is always allowed. Another one moves the real adapter there
    /// when no other port holds the bus at a rate of its choosing; that port holds
    /// it until it returns to the share's rate or its program closes the port.
    bool allowsBitRate(const kinetra::sim::HostPort& port, CANBaudRate rate) override;

private:
    /// 1-based number of the port behind `port`, 0 when none.
    std::size_t numberOf(const kinetra::sim::HostPort& port) const;

    Interface& adapter_;
    const CANBaudRate start_rate_;
    std::atomic<CANBaudRate> rate_;
    std::function<void(const std::string&)> say_;
    kinetra::sim::HostPorts ports_;
    std::mutex rate_mutex_;
    /// The port that moved the bus off the share's rate, or nullptr.
    const kinetra::sim::HostPort* holder_ = nullptr;
    // Last, so that they stop before the fan-out they are attached to goes.
    std::vector<std::unique_ptr<kinetra::sim::AdapterEndpoint>> endpoints_;
};

}  // namespace kinetra::cli
