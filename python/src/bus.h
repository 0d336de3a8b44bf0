#pragma once
// kinetra.Bus: one CAN bus opened through an SLCAN adapter, owning its
// interface, the proxies made on it, the thread that runs its Python
// callbacks and its frame observers.

#include <kinetra/interface.h>
#include <kinetra/usb_interface.h>

#include <pybind11/pybind11.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "callback_report.h"
#include "event_dispatcher.h"
#include "frame_callback.h"
#include "frame_queue.h"

namespace kinetra::python {

namespace py = pybind11;

/// The selector of a bit rate in bits per second; InvalidArgument for one no
/// adapter runs at.
CANBaudRate baudRateOf(long bitrate);

/// The interface of a kinetra.Bus; TypeError for anything else.
Interface& interfaceOf(py::handle bus);

class Bus;
/// The Bus that made the proxy at `proxy`, or null for none (or a bus gone).
const Bus* proxyOwner(const void* proxy);

/// A node's device type as Python sees it: a kinetra.DeviceType member, or the
/// plain number for a type the library does not know.
py::object deviceTypeObject(unsigned char type);

class Bus final : public PythonShutdown {
public:
    /// Opens `port` through the `adapter` ("zarvo" or "slcan") at `bitrate`
    /// bits per second. Raises InvalidArgument for an adapter or bit rate not
    /// known, AdapterError when the port cannot be opened. GIL held.
    Bus(const std::string& port, const std::string& adapter, long bitrate, py::object on_appeared,
        py::object on_lost, py::object on_adapter_lost);
    ~Bus() override;

    /// Closes the interface, ends the callback thread and the frame streams.
    /// Idempotent; GIL held (released while it joins).
    void close();
    void shutdown() override { close(); }
    bool closed() const { return closed_; }

    Interface& interface() { return *iface_; }
    USBInterface& adapter() { return *iface_; }
    const std::string& port() const { return port_; }

    /// The proxy of `node`, made at the first call; InvalidArgument when the node
    /// already has a proxy of another class.
    template <typename Proxy>
    Proxy& proxy(unsigned node);

    /// Waits until `node` is present and the bus runs; false at the deadline.
    bool waitFor(unsigned node, std::optional<std::chrono::steady_clock::time_point> deadline);

    /// A new frame stream's queue, fed from now until it is removed or the bus closes.
    std::shared_ptr<FrameQueue> addFrameQueue(std::size_t capacity);
    void removeFrameQueue(const std::shared_ptr<FrameQueue>& queue);
    /// Delivers every frame to `callback` on a thread of the module's; None stops it.
    void onFrame(py::object callback, std::size_t capacity);

private:
    void observeFrame(const can_frame_data& frame);
    void updateObserver();
    void nodeAppeared(unsigned node, unsigned char type);
    void nodeLost(unsigned node);
    void registerProxy(const void* proxy);

    std::string port_;
    std::unique_ptr<USBInterface> iface_;
    EventDispatcher events_;
    std::atomic<bool> closed_{false};
    // Destroyed before the interface: a proxy unregisters itself from it.
    std::map<unsigned, std::unique_ptr<CANDeviceType>> proxies_;

    std::mutex presence_mutex_;
    std::condition_variable presence_changed_;
    uint64_t presence_generation_ = 0;

    std::mutex frames_mutex_;
    std::vector<std::shared_ptr<FrameQueue>> frame_queues_;
    bool observing_ = false;
    std::unique_ptr<FrameCallbackThread> frame_callback_;
    // Callbacks replaced from inside themselves: their thread still runs until
    // the callback returns, so they live as long as the bus.
    std::vector<std::unique_ptr<FrameCallbackThread>> retired_callbacks_;
};

template <typename Proxy>
struct DeviceName;

/// Raises InvalidArgument for a node that already has a proxy of another class.
[[noreturn]] void raiseProxyClash(unsigned node, const char* wanted);

template <typename Proxy>
Proxy& Bus::proxy(unsigned node) {
    auto found = proxies_.find(node);
    if (found != proxies_.end()) {
        if (auto* existing = dynamic_cast<Proxy*>(found->second.get())) return *existing;
        raiseProxyClash(node, DeviceName<Proxy>::value);
    }
    auto made = std::make_unique<Proxy>(node, iface_.get());
    Proxy& proxy = *made;
    registerProxy(&proxy);
    proxies_.emplace(node, std::move(made));
    return proxy;
}

}  // namespace kinetra::python
