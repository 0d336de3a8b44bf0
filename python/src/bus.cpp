#include "bus.h"

#include "can/bus.h"
#include "errors.h"
#include "interruptible.h"
#include "operation.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <utility>

namespace kinetra::python {
namespace {

using Clock = std::chrono::steady_clock;
using Event = EventDispatcher::Event;
using Kind = EventDispatcher::Kind;

/// The bit rates an adapter can run at, in bits per second.
constexpr std::pair<long, CANBaudRate> kBitRates[] = {
    {10'000, CAN_BAUD_10K},   {20'000, CAN_BAUD_20K},   {50'000, CAN_BAUD_50K},
    {100'000, CAN_BAUD_100K}, {125'000, CAN_BAUD_125K}, {250'000, CAN_BAUD_250K},
    {500'000, CAN_BAUD_500K}, {750'000, CAN_BAUD_750K}, {1'000'000, CAN_BAUD_1M},
};

/// The adapter names a Bus accepts.
constexpr const char* kZarvo = "zarvo";
constexpr const char* kSlcan = "slcan";

/// Which Bus made each proxy, so that a proxy's failure after its bus closed
/// reads as the closed bus it is.
std::mutex& proxyOwnersMutex() {
    static std::mutex mutex;
    return mutex;
}
std::unordered_map<const void*, const Bus*>& proxyOwners() {
    static std::unordered_map<const void*, const Bus*> owners;
    return owners;
}

}  // namespace

CANBaudRate baudRateOf(long bitrate) {
    for (const auto& [bits, rate] : kBitRates) {
        if (bits == bitrate) return rate;
    }
    std::string known;
    for (const auto& entry : kBitRates) known += (known.empty() ? "" : ", ") + std::to_string(entry.first);
    raiseError("InvalidArgument", "bit rate " + std::to_string(bitrate) + " is not one of " + known, "bus");
}

bool proxyBusClosed(const void* proxy) {
    std::lock_guard<std::mutex> lock(proxyOwnersMutex());
    auto found = proxyOwners().find(proxy);
    return found != proxyOwners().end() && found->second->closed();
}

const Bus* proxyOwner(const void* proxy) {
    std::lock_guard<std::mutex> lock(proxyOwnersMutex());
    auto found = proxyOwners().find(proxy);
    return found != proxyOwners().end() ? found->second : nullptr;
}

void raiseProxyClash(unsigned node, const char* wanted) {
    raiseError("InvalidArgument",
               "node " + std::to_string(node) + " already has a proxy of another class than " + wanted, "bus");
}

std::optional<Clock::time_point> deadlineAfter(const py::object& seconds, const char* operation) {
    if (seconds.is_none()) return std::nullopt;
    const double value = seconds.cast<double>();
    if (!(value >= 0.0) || std::isinf(value)) {
        raiseError("InvalidArgument", std::string(operation) + ": timeout must be a finite number of seconds >= 0",
                   operation);
    }
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(value));
}

py::object deviceTypeObject(unsigned char type) {
    using protocol::DeviceType;
    switch (static_cast<DeviceType>(type)) {
        case DeviceType::Driver:
        case DeviceType::Actuator:
        case DeviceType::Imu:
        case DeviceType::Encoder:
            return py::cast(static_cast<DeviceType>(type));
    }
    return py::int_(type);
}

Bus::Bus(const std::string& port, const std::string& adapter, long bitrate, py::object on_appeared,
         py::object on_lost, py::object on_adapter_lost)
    : port_(port) {
    const CANBaudRate rate = baudRateOf(bitrate);
    if (adapter == kZarvo) {
        iface_ = std::make_unique<USBInterface>();
    } else if (adapter == kSlcan) {
        iface_ = std::make_unique<SlcanInterface>(rate);
    } else {
        raiseError("InvalidArgument", "adapter must be \"zarvo\" or \"slcan\", not \"" + adapter + "\"", "bus");
    }
    events_.appeared.function = std::move(on_appeared);
    events_.lost.function = std::move(on_lost);
    events_.adapter_lost.function = std::move(on_adapter_lost);
    iface_->setAdapterLostCallback([this] { events_.post({Kind::AdapterLost, 0, 0}); });

    std::string failure;
    bool opened = false;
    {
        py::gil_scoped_release release;
        try {
            opened = iface_->initInterface(
                         port, [this](unsigned node, unsigned char type) { nodeAppeared(node, type); },
                         [this](unsigned node) { nodeLost(node); }) != 0;
            if (!opened) failure = "the port could not be opened";
        } catch (const std::exception& error) {
            failure = error.what();
        }
        if (opened && adapter == kZarvo) {
            // The Zarvo keeps the rate it stored; set it only when it differs, so
            // an open does not restart a channel that already runs right.
            CANBaudRate current = rate;
            if (iface_->getCANBaudRate(&current) == RET_INTERFACE_OK && current != rate) iface_->setCANBaudRate(rate);
        }
    }
    if (!opened) {
        closed_ = true;
        {
            py::gil_scoped_release release;
            iface_->closeInterface();
        }
        events_.stop();
        raiseError("AdapterError", port + ": " + failure, "bus");
    }
}

Bus::~Bus() {
    close();
    std::lock_guard<std::mutex> lock(proxyOwnersMutex());
    for (const auto& entry : proxies_) proxyOwners().erase(entry.second.get());
}

void Bus::close() {
    if (closed_.exchange(true)) return;
    {
        py::gil_scoped_release release;
        iface_->closeInterface();
        iface_->setFrameObserver({});
        std::lock_guard<std::mutex> lock(frames_mutex_);
        for (const auto& queue : frame_queues_) queue->close();
        frame_queues_.clear();
        observing_ = false;
    }
    if (frame_callback_) frame_callback_->stop();
    events_.stop();
    presence_changed_.notify_all();
}

void Bus::registerProxy(const void* proxy) {
    std::lock_guard<std::mutex> lock(proxyOwnersMutex());
    proxyOwners()[proxy] = this;
}

void Bus::nodeAppeared(unsigned node, unsigned char type) {
    {
        std::lock_guard<std::mutex> lock(presence_mutex_);
        ++presence_generation_;
    }
    presence_changed_.notify_all();
    events_.post({Kind::Appeared, node, type});
}

void Bus::nodeLost(unsigned node) { events_.post({Kind::Lost, node, 0}); }

bool Bus::waitFor(unsigned node, std::optional<Clock::time_point> deadline) {
    if (closed_) raiseStatus(RET_NOT_RUNNING, node, "wait_for", "node");
    uint64_t seen = 0;
    const auto ready = [&] { return iface_->isDeviceConnected(node) && iface_->isRunning(); };
    return waitInterruptibly(
        [&](std::chrono::nanoseconds slice) {
            if (closed_ || ready()) return true;
            std::unique_lock<std::mutex> lock(presence_mutex_);
            if (presence_generation_ == seen) {
                // A node's first heartbeat wakes the wait; the bus starting to run
                // (its first send) is seen at the next slice.
                presence_changed_.wait_for(lock, slice, [&] { return presence_generation_ != seen || closed_; });
            }
            seen = presence_generation_;
            lock.unlock();
            return closed_ || ready();
        },
        deadline) &&
           !closed_;
}

std::shared_ptr<FrameQueue> Bus::addFrameQueue(std::size_t capacity) {
    auto queue = std::make_shared<FrameQueue>(capacity);
    if (closed_) {
        queue->close();
        return queue;
    }
    {
        std::lock_guard<std::mutex> lock(frames_mutex_);
        frame_queues_.push_back(queue);
    }
    updateObserver();
    return queue;
}

void Bus::removeFrameQueue(const std::shared_ptr<FrameQueue>& queue) {
    queue->close();
    {
        std::lock_guard<std::mutex> lock(frames_mutex_);
        frame_queues_.erase(std::remove(frame_queues_.begin(), frame_queues_.end(), queue), frame_queues_.end());
    }
    updateObserver();
}

void Bus::updateObserver() {
    bool wanted;
    {
        std::lock_guard<std::mutex> lock(frames_mutex_);
        wanted = !frame_queues_.empty() && !closed_;
        if (wanted == observing_) return;
        observing_ = wanted;
    }
    if (wanted) {
        iface_->setFrameObserver([this](const can_frame_data& frame) { observeFrame(frame); });
    } else {
        iface_->setFrameObserver({});
    }
}

void Bus::observeFrame(const can_frame_data& frame) {
    // On the receive thread: only queue, never the GIL.
    const double now = std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
    const TimedFrame timed{frame, now};
    std::lock_guard<std::mutex> lock(frames_mutex_);
    for (const auto& queue : frame_queues_) queue->push(timed);
}

void Bus::onFrame(py::object callback, std::size_t capacity) {
    if (frame_callback_) {
        removeFrameQueue(frame_callback_->queue());
        const bool inside = frame_callback_->runsHere();
        frame_callback_->stop();
        if (inside) retired_callbacks_.push_back(std::move(frame_callback_));
        frame_callback_.reset();
    }
    if (callback.is_none()) return;
    if (closed_) raiseStatus(RET_NOT_RUNNING, 0, "on_frame", "bus");
    frame_callback_ = std::make_unique<FrameCallbackThread>(std::move(callback), capacity);
    {
        std::lock_guard<std::mutex> lock(frames_mutex_);
        frame_queues_.push_back(frame_callback_->queue());
    }
    updateObserver();
}

Interface& interfaceOf(py::handle bus) {
    if (!py::isinstance<Bus>(bus)) throw py::type_error("expected a kinetra.Bus");
    return bus.cast<Bus&>().interface();
}

}  // namespace kinetra::python
