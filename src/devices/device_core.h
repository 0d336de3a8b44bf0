#pragma once
// What every device proxy does the same way: the guard sequence, command frames,
// the query cycle over the shared engine, and the frame handler that routes
// replies by the class's routing table. A proxy class is a set of one-line
// operations over one DeviceCore instantiated with its traits.

#include <kinetra/interface.h>
#include <kinetra/types.h>

#include "can/bus.h"
#include "devices/cycle_read.h"
#include "devices/forward.h"
#include "devices/protocol/motor_controller_protocol.h"
#include "devices/protocol/payload.h"
#include "devices/protocol/reply_layout.h"
#include "devices/query_engine.h"
#include "flash/flash_replies.h"
#include "interface/log_sink.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <iterator>
#include <memory>
#include <mutex>
#include <ostream>
#include <utility>

namespace kinetra {

/// A class's traits: `Value` (the reply variant), `routes` (its routing table),
/// `logging`, and `kMotorController` (heartbeat status and bootloader replies).
template <typename Traits>
class DeviceCore {
public:
    using Value = typename Traits::Value;
    using TraitsType = Traits;

    DeviceCore(unsigned int node, Interface* iface)
        : node_(node),
          iface_(iface),
          iface_lifetime_(iface != nullptr ? iface->lifetimeToken() : std::weak_ptr<const void>()),
          engine_(log_, Traits::logging),
          cycle_handle_(std::make_shared<CycleHandle>(this, [](const void* core) {
              return static_cast<const DeviceCore*>(core)->guard();
          })) {}
    /// Cuts the control cycles' reads off this proxy, waiting for one in progress.
    ~DeviceCore() {
        std::lock_guard<std::mutex> lock(cycle_handle_->mutex);
        cycle_handle_->core = nullptr;
        cycle_handle_->listener = nullptr;
    }
    DeviceCore(const DeviceCore&) = delete;
    DeviceCore& operator=(const DeviceCore&) = delete;

    /// The node the proxy addresses.
    unsigned int node() const { return node_; }
    /// The interface, or null when there was none or it has been destroyed since.
    Interface* iface() const { return iface_lifetime_.expired() ? nullptr : iface_; }

    /// The checks every operation makes before it sends: an interface to send
    /// through, running, and the node present.
    ret_status_t guard() const {
        Interface* const iface = this->iface();
        if (iface == nullptr) return RET_NOT_INITIALISED;
        if (!iface->isRunning()) return RET_NOT_RUNNING;
        if (!iface->isDeviceConnected(node_)) return RET_NOT_CONNECTED;
        return RET_OK;
    }

    /// Sends a command without reply: `payload`'s data with the given kind and DLC.
    /// The send result is not examined: a failed send shows as RET_NOT_RUNNING on
    /// the next operation.
    ret_status_t sendCommand(uint8_t command, protocol::FrameKind kind, uint8_t dlc,
                             const can_frame_data& payload = can_frame_data{}) {
        const ret_status_t status = guard();
        if (status != RET_OK) return status;
        can_frame_data frame = payload;
        frame.can_id = protocol::hostFrameId(node_, command, kind);
        frame.can_dlc = dlc;
        iface_->sendFrame(&frame);
        return RET_OK;
    }

    /// A command that must reach the bus whenever it can (the emergency stop): it
    /// is sent whenever the transport is open, even when the last send failed or
    /// the node is no longer heard; the status is still the guard's, so the caller
    /// learns that the node is absent.
    ret_status_t sendWhileOpen(uint8_t command, protocol::FrameKind kind, uint8_t dlc) {
        const ret_status_t status = guard();
        Interface* const iface = this->iface();
        if (iface == nullptr || !iface->isOpen()) return status;
        can_frame_data frame{};
        frame.can_id = protocol::hostFrameId(node_, command, kind);
        frame.can_dlc = dlc;
        iface->sendFrame(&frame);
        return status;
    }

    /// A query sent as a remote frame with DLC 8: waits for the reply of `Command`
    /// and stores its first values into `out`.
    template <uint8_t Command, typename... T>
    ret_status_t query(T*... out) {
        return queryWith<Command>(protocol::FrameKind::Remote, protocol::kQueryDlc, can_frame_data{}, out...);
    }

    /// A query whose request is a frame of the given kind, DLC and payload.
    template <uint8_t Command, typename... T>
    ret_status_t queryWith(protocol::FrameKind kind, uint8_t dlc, const can_frame_data& payload, T*... out) {
        // A command without a route fails here too, as a null dereference: comparing
        // the route's address with null is no constant expression under the
        // sanitizers (they keep null-pointer checks), so it cannot be asserted.
        static_assert(Traits::routes.find(Command)->template startsWith<T...>(),
                      "command has no reply route, or out-parameters do not match the reply layout");
        return runQuery(Command, kind, dlc, payload, out...);
    }

    /// Where control cycles reach this proxy; it outlives the proxy.
    const std::shared_ptr<CycleHandle>& cycleHandle() const { return cycle_handle_; }

    /// Routes one received frame: bootloader replies during a firmware update,
    /// heartbeats, then replies by the routing table.
    void handleFrame(can_frame_data* frame) {
        if constexpr (Traits::kMotorController) {
            if (engine_.flash_mode.load()) {
                const uint32_t id = frame->can_id;
                const auto& flash_ids = protocol::motor::kFlashReplyIds;
                if (std::find(std::begin(flash_ids), std::end(flash_ids), id) != std::end(flash_ids) ||
                    id == protocol::motor::kFlashReadReplyId) {
                    flash_replies_.deliver(*frame);
                } else {
                    log_.line("[FLASH] Unknown Command Id:", id);
                }
                return;
            }
        }
        const uint8_t command = getCommandIdFromFrame(frame);
        if (command == protocol::kHeartbeat) {
            if constexpr (Traits::kMotorController) parseHeartbeatData(*frame);
            return;
        }
        const protocol::ReplyLayout* layout = Traits::routes.find(command);
        if (layout == nullptr) {
            log_.line("Unknown Command Id.");
            return;
        }
        // A remote frame carries no data, and a reply shorter than its layout would
        // hand out bytes the device never sent: neither is an answer, so it is
        // dropped like any reply without a pending query, and the query ends as if
        // none had come. Text replies end at their first zero byte and may be short.
        if (!isUsableReply(*frame, *layout)) return;
        // A running control cycle's reads come first; what none waits for goes on.
        if (cycle_handle_->offer(*frame, command)) return;
        engine_.getDataCallback(*frame, command, *layout);
    }

    /// The maintenance reads and writes every device class shares.
    ret_status_t saveConfigurations() {
        return sendCommand(protocol::common::kSaveConfigurations, protocol::FrameKind::Data, 0);
    }
    ret_status_t eraseConfigurations() {
        return sendCommand(protocol::common::kEraseConfigurations, protocol::FrameKind::Data, 0);
    }
    ret_status_t getNodeId(unsigned int* id) { return query<protocol::common::kGetNodeId>(id); }
    /// Tells the device its new node id; the proxy keeps addressing the old one.
    ret_status_t setNodeId(unsigned int id) {
        can_frame_data payload{};
        protocol::PayloadWriter(payload).put(id);
        return sendCommand(protocol::common::kSetNodeId, protocol::FrameKind::Data, Traits::kSetNodeIdDlc, payload);
    }
    ret_status_t reboot() { return sendCommand(protocol::common::kReboot, Traits::kRebootFrameKind, 0); }
    ret_status_t enterDFUMode() { return sendCommand(protocol::common::kEnterDfuMode, protocol::FrameKind::Data, 0); }
    ret_status_t getHardwareVersion(unsigned char* a, unsigned char* b, unsigned char* c, unsigned char* d) {
        return query<protocol::common::kGetHardwareVersion>(a, b, c, d);
    }
    ret_status_t getFirmwareVersion(unsigned char* major, unsigned char* minor, unsigned short* patch) {
        return query<protocol::common::kGetFirmwareVersion>(major, minor, patch);
    }

    /// Whether the node is present on the bus.
    bool isConnected() const {
        Interface* const iface = this->iface();
        return iface != nullptr && iface->isDeviceConnected(node_);
    }

    /// Sets the proxy's log sink; nullptr restores the discarding one.
    void setOutputLogStream(std::ostream* stream) { log_.setStream(stream); }
    LogSink& log() { return log_; }

    /// Lengthens the reply wait and switches to bootloader reply matching.
    void setFlashMode(bool on) { engine_.flash_mode = on; }
    /// The bootloader replies collected while flash mode is on.
    FlashReplies& flashReplies() { return flash_replies_; }

    /// The status carried by the node's last heartbeat (motor controllers).
    uint32_t heartbeatWord() const { return heartbeat_word.load(); }
    uint8_t heartbeatByte4() const { return heartbeat_byte4.load(); }
    uint8_t heartbeatByte5() const { return heartbeat_byte5.load(); }

private:
    static bool isUsableReply(can_frame_data& frame, const protocol::ReplyLayout& layout) {
        if (getRtrFromFrame(&frame)) return false;
        const bool text = layout.count > 0 && layout.kinds[0] == protocol::ValueKind::Text;
        return text || frame.can_dlc * 8u >= layout.bits();
    }

    void parseHeartbeatData(const can_frame_data& frame) {
        heartbeat_word = protocol::fromBits<unsigned int>(protocol::payloadWord(frame));
        heartbeat_byte4 = frame.data[4];
        heartbeat_byte5 = frame.data[5];
    }

    template <typename... T>
    ret_status_t runQuery(uint8_t command, protocol::FrameKind kind, uint8_t dlc, const can_frame_data& payload,
                          T*... out) {
        can_frame_data frame = payload;
        frame.can_id = protocol::hostFrameId(node_, command, kind);
        frame.can_dlc = dlc;
        return awaitReply(command, frame, out...);
    }

    // The query cycle: guard, arm the slot for `pending_id`, send, wait, disarm.
    // The slot is one per proxy, so queries from several threads take turns: held
    // from arm to disarm, the query lock keeps one thread's reply from being
    // handed to another. Commands never take it.
    template <typename... T>
    ret_status_t awaitReply(int pending_id, can_frame_data frame, T*... out) {
        const ret_status_t status = guard();
        if (status != RET_OK) return status;
        if (!(isUsableArgument(out) && ...)) return RET_INVALID_ARGUMENT;
        std::lock_guard<std::mutex> one_query_at_a_time(query_mutex_);
        engine_.arm(pending_id);
        iface_->sendFrame(&frame);
        const ret_status_t result = engine_.parseData(pending_id, out...);
        engine_.disarm();
        return result;
    }

    const unsigned int node_;
    Interface* const iface_;
    const std::weak_ptr<const void> iface_lifetime_;
    std::mutex query_mutex_;
    LogSink log_;
    QueryEngine<Value> engine_;
    FlashReplies flash_replies_;
    std::atomic<uint32_t> heartbeat_word{0};
    std::atomic<uint8_t> heartbeat_byte4{1};
    std::atomic<uint8_t> heartbeat_byte5{0};
    // Shared with the control cycles that read this proxy, so it outlives us.
    const std::shared_ptr<CycleHandle> cycle_handle_;
};

}  // namespace kinetra
