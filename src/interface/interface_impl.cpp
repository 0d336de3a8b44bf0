#include "interface/interface_impl.h"
#include "interface/worker_thread.h"

#include "can/bus.h"

#include <exception>
#include <vector>

namespace {
// The host announces itself this often; it is also the expiry check period.
constexpr std::chrono::milliseconds kHeartbeatPeriod{200};
// Once the adapter is lost the receive thread only waits for the close; it wakes
// at this period merely as a bound on each wait.
constexpr std::chrono::seconds kLostAdapterPark{1};
}  // namespace

Interface::InterfaceImpl::InterfaceImpl(Interface* owner_) : owner(owner_) {}

unsigned char Interface::InterfaceImpl::sendFrame(can_frame_data* frame) {
    std::lock_guard<std::mutex> lock(send_mutex);
    if (frame == nullptr) return false;
    const bool sent = owner->sendData(frame) != 0;
    running = sent && !adapter_lost.load();
    return sent;
}

unsigned char Interface::InterfaceImpl::sendFrames(can_frame_data* frames, std::size_t count) {
    std::lock_guard<std::mutex> lock(send_mutex);
    if (frames == nullptr || count == 0) return false;
    const bool sent = owner->sendDataBatch(frames, count) != 0;
    running = sent;
    return sent;
}

void Interface::InterfaceImpl::sendAckToDevice(unsigned int node) {
    log.line("Sending ACK to ", node);
    can_frame_data frame = kinetra::protocol::acknowledgementFrame(node);
    std::lock_guard<std::mutex> lock(send_mutex);
    running = owner->sendData(&frame) != 0 && !adapter_lost.load();
}

unsigned char Interface::InterfaceImpl::startRecvThread() {
    recv_future = std::async(std::launch::async, [this] { recvThread(); });
    return true;
}

unsigned char Interface::InterfaceImpl::startMasterHeartbeatThread() {
    heartbeat_future = std::async(std::launch::async, [this] { masterHeartbeatThread(); });
    return true;
}

void Interface::InterfaceImpl::stopThreads() {
    stop.request();
    // get() rather than wait(): an exception that ended a thread reaches the caller.
    if (recv_future.valid()) recv_future.get();
    if (heartbeat_future.valid()) heartbeat_future.get();
    // The heartbeat thread clears the table as it ends, but the receive thread may
    // still have handled a last heartbeat after that.
    presence.clear();
}

void Interface::InterfaceImpl::storeCallbacks(std::function<void(unsigned int, unsigned char)> new_device,
                                              std::function<void(unsigned int)> device_lost) {
    std::lock_guard<std::mutex> lock(callback_mutex);
    if (new_device) newDeviceCallback = std::move(new_device);
    if (device_lost) deviceLostCallback = std::move(device_lost);
}

void Interface::InterfaceImpl::recvThread() {
    kinetra::markInterfaceThread();
    log.line("Inside recvThread() ", stop.requested() ? 1 : 0);
    can_frame_data frame{};
    while (!stop.requested()) {
        try {
            // A frame that arrives once closing has begun is not handled: the
            // heartbeat thread may already have cleared the presence table, and the
            // node would be reported new while the interface closes.
            if (owner->recvData(&frame) != 0 && !stop.requested()) {
                observe(frame);
                canMsgCallback(&frame);
            }
        } catch (const std::exception& error) {
            if (stop.requested()) break;
            onAdapterLost(error.what());
            // Nothing more can be read from a vanished port: wait for
            // closeInterface() rather than retry and spin.
            while (!stop.waitFor(kLostAdapterPark)) {
            }
        }
    }
}

void Interface::InterfaceImpl::onAdapterLost(const char* reason) {
    log.line("Adapter lost: ", reason);
    adapter_lost = true;
    running = false;
    std::function<void(unsigned int)> node_lost;
    std::function<void()> adapter_gone;
    {
        std::lock_guard<std::mutex> lock(callback_mutex);
        node_lost = deviceLostCallback;
        adapter_gone = adapterLostCallback;
    }
    for (uint32_t node : presence.takeAll()) {
        if (node_lost) node_lost(node);
    }
    if (adapter_gone) adapter_gone();
}

void Interface::InterfaceImpl::observe(const can_frame_data& frame) {
    std::lock_guard<std::mutex> lock(observer_mutex);
    if (frameObserver) frameObserver(frame);
}

void Interface::InterfaceImpl::masterHeartbeatThread() {
    kinetra::markInterfaceThread();
    log.line("Inside masterheartbeatThread() ", running.load() ? 1 : 0);
    std::vector<uint32_t> lost;
    while (!stop.requested()) {
        if (owner->flash_mode.load()) {
            heartbeatPause(kHeartbeatPeriod);
            continue;
        }
        if (!adapter_lost.load()) {
            can_frame_data heartbeat = kinetra::protocol::masterHeartbeatFrame();
            std::lock_guard<std::mutex> lock(send_mutex);
            running = owner->sendData(&heartbeat) != 0 && !adapter_lost.load();
        }
        if (heartbeatPause(kHeartbeatPeriod)) break;

        lost = presence.expire(heartbeatNow());
        if (lost.empty()) continue;
        std::function<void(unsigned int)> callback;
        {
            std::lock_guard<std::mutex> lock(callback_mutex);
            callback = deviceLostCallback;
        }
        if (callback) {
            for (uint32_t node : lost) callback(node);
        }
    }
    presence.clear();
}

void Interface::InterfaceImpl::canMsgCallback(can_frame_data* frame) {
    // A transport may hand in any DLC; nothing downstream may read past 8 bytes.
    if (frame->can_dlc > 8) frame->can_dlc = 8;

    if (owner->flash_mode.load()) {
        log.line("[FLASH] Got message....", std::dec, frame->can_id);
        std::lock_guard<std::mutex> lock(registry_mutex);
        for (const auto& entry : devices) entry.second->canMsgCallback(frame);
        return;
    }

    // Outside a firmware update only extended frames speak the device protocol; a
    // standard frame (another protocol on the same bus) must neither make a node
    // present nor answer a query.
    if (!getExtFromFrame(frame)) {
        if (!standard_frame_logged.exchange(true)) {
            log.line("Ignoring standard-identifier frames: they belong to no device.");
        }
        return;
    }

    const uint32_t node = getDeviceIdFromFrame(frame);
    const uint8_t command = getCommandIdFromFrame(frame);
    const auto device_type = static_cast<uint8_t>(getDeviceTypeFromFrame(frame));
    // Only a host sets the master flag: another program's heartbeat on the same
    // bus (a monitor, a second application) carries node 0 but is no device.
    const bool from_a_host = (frame->can_id & kinetra::protocol::kMasterFlag) != 0;
    log.line("Got message....", std::dec, node, " ", static_cast<unsigned>(command));

    if (command == kinetra::protocol::kHeartbeat && !from_a_host) {
        const auto now = kinetra::PresenceTable::Clock::now();
        if (is_device.load()) {
            {
                std::lock_guard<std::mutex> lock(assigned_mutex);
                assigned_id = node;
            }
            assigned_cv.notify_all();
        }
        if (!presence.refresh(node, now)) {
            log.line("New Device is sending a heartbeat...from: ", node, " ; ", static_cast<unsigned>(device_type));
            std::function<void(unsigned int, unsigned char)> callback;
            {
                std::lock_guard<std::mutex> lock(callback_mutex);
                callback = newDeviceCallback;
            }
            if (callback) callback(node, device_type);
            presence.add(node, device_type, now);
        }
    }

    std::lock_guard<std::mutex> lock(registry_mutex);
    if (devices.empty()) return;
    if (is_device.load()) {
        if (command == kinetra::protocol::kAcknowledgement) return;
        devices.begin()->second->canMsgCallback(frame);
        return;
    }
    if (from_a_host) return;
    const auto it = devices.find(node);
    if (it == devices.end() || command == kinetra::protocol::kAcknowledgement) {
        log.line("Unknown Device ID ", node, " or Command ID ", static_cast<unsigned>(command));
        return;
    }
    it->second->canMsgCallback(frame);
}
