#include <kinetra/interface.h>

#include "interface/interface_impl.h"
#include "can/bus.h"

Interface::Interface() : impl_(new InterfaceImpl(this)) {}

Interface::~Interface() {
    // A transport stops the threads in its own destructor, while its transport
    // operations can still be called; this is a last resort for a transport that
    // forgot, and joins threads rather than leave them running over freed memory.
    if (impl_ != nullptr) {
        impl_->stopThreads();
        delete impl_;
        impl_ = nullptr;
    }
}

unsigned char Interface::initInterface(std::string port,
                                       std::function<void(unsigned int, unsigned char)> newDeviceCallback,
                                       std::function<void(unsigned int)> deviceLostCallback) {
    if (impl_ == nullptr) return false;
    if (impl_->open.load()) {
        impl_->log.line("Interface already open; close it before opening it again.");
        return false;
    }
    // Threads of an earlier successful initialisation must not run next to the
    // new ones: two receive threads would share one transport.
    impl_->stopThreads();
    impl_->running = false;
    impl_->adapter_lost = false;
    impl_->stop.reset();

    // No thread runs at this point, so a failed open only has to release the
    // transport, whether init() refused or threw.
    const auto closeAfterFailedOpen = [this] {
        impl_->log.line("Closing CAN Socket");
        impl_->stop.request();
        closeIface();
    };
    bool opened = false;
    try {
        opened = init(port) == 1;
    } catch (...) {
        closeAfterFailedOpen();
        throw;
    }
    if (!opened) {
        closeAfterFailedOpen();
        return false;
    }

    // Stored before the threads start: a node whose first heartbeat arrived in
    // between would otherwise be present without ever being reported.
    impl_->storeCallbacks(std::move(newDeviceCallback), std::move(deviceLostCallback));
    impl_->open = true;
    impl_->log.line("Starting receive thread...");
    impl_->startRecvThread();
    impl_->log.line("Starting heartbeat thread...");
    impl_->startMasterHeartbeatThread();
    impl_->log.line("CAN Init Success");
    return true;
}

unsigned char Interface::closeInterface() {
    if (impl_ == nullptr) return true;
    impl_->running = false;
    impl_->open = false;
    // The transport is closed before the threads are joined: closing wakes the
    // receive thread from its read, which would otherwise wait out its time-out
    // on a silent port. The stop request comes first, so the aborted read ends
    // the thread instead of being taken for a lost adapter.
    impl_->stop.request();
    closeIface();
    impl_->stopThreads();
    return true;
}

void Interface::setFrameObserver(std::function<void(const can_frame_data&)> observer) {
    if (impl_ == nullptr) return;
    std::lock_guard<std::mutex> lock(impl_->observer_mutex);
    impl_->frameObserver = std::move(observer);
}

unsigned char Interface::sendFrame(can_frame_data* frame) {
    if (impl_ == nullptr) return false;
    return impl_->sendFrame(frame);
}

unsigned char Interface::sendFrames(can_frame_data* frames, std::size_t count) {
    if (impl_ == nullptr) return false;
    return impl_->sendFrames(frames, count);
}

unsigned char Interface::sendDataBatch(can_frame_data* frames, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (sendData(&frames[i]) == 0) return false;
    }
    return true;
}

bool Interface::isRunning() { return impl_ != nullptr && impl_->running.load(); }

bool Interface::isOpen() { return impl_ != nullptr && impl_->open.load(); }

bool Interface::isAdapterLost() { return impl_ != nullptr && impl_->adapter_lost.load(); }

void Interface::setAdapterLostCallback(std::function<void()> callback) {
    if (impl_ == nullptr) return;
    std::lock_guard<std::mutex> lock(impl_->callback_mutex);
    impl_->adapterLostCallback = std::move(callback);
}

std::weak_ptr<const void> Interface::lifetimeToken() const {
    if (impl_ == nullptr) return {};
    return std::static_pointer_cast<const void>(impl_->lifetime);
}

bool Interface::isDevice() { return impl_ != nullptr && impl_->is_device.load(); }

bool Interface::isDeviceConnected(unsigned int node) { return impl_ != nullptr && impl_->presence.contains(node); }

std::map<unsigned int, unsigned char> Interface::getConnectedDevices() {
    if (impl_ == nullptr) return {};
    return impl_->presence.snapshot();
}

unsigned int Interface::setAsDevice() {
    if (impl_ == nullptr) return 0xFFFFFFFFu;
    impl_->is_device = true;
    // Wait for the receive thread to learn a node id from a heartbeat, at most
    // about 500 ms; it notifies rather than being polled.
    std::unique_lock<std::mutex> lock(impl_->assigned_mutex);
    impl_->assigned_cv.wait_for(lock, std::chrono::milliseconds(500),
                                [this] { return impl_->assigned_id.load() != 0xFFFFFFFFu; });
    return impl_->assigned_id.load();
}

void Interface::registerCANMsgCallback(CANDeviceType* device) {
    if (impl_ == nullptr || device == nullptr) return;
    std::lock_guard<std::mutex> lock(impl_->registry_mutex);
    const auto it = impl_->devices.find(device->getId());
    if (it != impl_->devices.end()) {
        impl_->log.line("Device already exists with same id. Hence updating CANMsgCallback().");
        impl_->devices.erase(it);
    }
    impl_->devices.emplace(device->getId(), device);
}

void Interface::unregisterCANMsgCallback(CANDeviceType* device) {
    if (impl_ == nullptr || device == nullptr) return;
    std::lock_guard<std::mutex> lock(impl_->registry_mutex);
    impl_->devices.erase(device->getId());
}

void Interface::setOutputLogStream(std::ostream* stream) {
    if (impl_ == nullptr) return;
    impl_->log.setStream(stream);
}

kinetra::LogSink& Interface::logSink() { return impl_->log; }
