#pragma once
/// @file host_ports.h
/// The hosts' side of a CAN bus: each host reaches the bus through its own
/// adapter (a HostPort), and whatever carries the frames (the simulated bus, or
/// one real adapter shared by several programs) is a HostBus. Several hosts on
/// one bus are normal: a monitor next to a running application, or two programs.

#include <kinetra/can_frame.h>
#include <kinetra/types.h>

#include <mutex>
#include <vector>

namespace kinetra::sim {

/// One host's adapter as the bus sees it.
class HostPort {
public:
    virtual ~HostPort() = default;
    /// Whether a frame sent at `rate` is heard by the host now: the channel is
    /// open and the adapter runs at that rate.
    virtual bool carries(CANBaudRate rate) const = 0;
    /// Passes one frame from the bus on to the host.
    virtual void frameToHost(const can_frame_data& frame) = 0;
};

/// What adapters are attached to.
class HostBus {
public:
    virtual ~HostBus() = default;
    /// Adds a host's adapter: from now on it hears the bus.
    virtual void attach(HostPort& port) = 0;
    /// Removes it; once this returns the bus no longer calls into it.
    virtual void detach(HostPort& port) = 0;
    /// A frame `sender`'s host sent while its channel is open at `rate`: as on a
    /// real bus, everything else on it at that rate hears it, every other host
    /// included, while the sender does not hear its own frame back.
    virtual void deliverFromHost(const can_frame_data& frame, CANBaudRate rate, const HostPort& sender) = 0;
    /// Whether `port`'s host may set its adapter to `rate`; a refusal is answered
    /// as the adapter answers any refused command. A simulated bus lets every
    /// host choose; one real adapter shared by several programs lets one at a
    /// time move the bus to another rate.
    virtual bool allowsBitRate(const HostPort& port, CANBaudRate rate) {
        (void)port;
        (void)rate;
        return true;
    }
};

/// The adapters attached to one bus, and the fan-out of frames to them.
/// Thread-safe: attaching, detaching and the fan-out may overlap.
class HostPorts {
public:
    /// Adds `port` unless it is attached already.
    void attach(HostPort& port);
    /// Removes `port`; waits for a fan-out in progress, so the port is not
    /// called once this returns.
    void detach(HostPort& port);
    /// Detaches every port and attaches `port` alone (none for nullptr).
    void replaceAll(HostPort* port);

    /// Hands `frame` to every attached port that carries `rate`, except `skip`
    /// (the sender, or nullptr for none). The ports must not call back in.
    void toHosts(const can_frame_data& frame, CANBaudRate rate, const HostPort* skip) const;
    /// The attached ports that carry `rate` now, except `skip`.
    std::vector<HostPort*> carrying(CANBaudRate rate, const HostPort* skip) const;
    /// Hands `frame` to `port` if it is still attached.
    void toHost(HostPort& port, const can_frame_data& frame) const;

private:
    mutable std::mutex mutex_;
    std::vector<HostPort*> ports_;
};

}  // namespace kinetra::sim
