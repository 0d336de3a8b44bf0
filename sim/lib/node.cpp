#include "kinetra_sim/node.h"
#include "kinetra_sim/node_answer.h"

#include "can/bus.h"
#include "devices/protocol/common_commands.h"

#include <algorithm>
#include <cstdio>

namespace kinetra::sim {
namespace {

namespace common = protocol::common;

using protocol::kRemoteFlag;
constexpr uint8_t kCommandMask = 0x7F;
constexpr uint8_t kReplyDlc = 8;

std::string commandName(uint8_t command) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", command);
    return text;
}

bool sameLayout(const protocol::ReplyLayout& a, const protocol::ReplyLayout& b) {
    if (a.count != b.count) return false;
    for (std::size_t i = 0; i < a.count; ++i) {
        if (a.kinds[i] != b.kinds[i]) return false;
    }
    return true;
}

// The seed mixes the node id in so that nodes with the same faults drop different replies.
uint32_t seedFor(const NodeSetup& setup) { return 0x9E3779B9u ^ (setup.node_id * 2654435761u); }

}  // namespace

Node::Node(const NodeSetup& setup, protocol::DeviceType type, const protocol::RouteTable& routes,
           NodeIdentity identity)
    : setup_(setup),
      device_type_(type),
      routes_(routes),
      identity_(std::move(identity)),
      node_id_(setup.node_id),
      bit_rate_(setup.bit_rate),
      heartbeat_period_(setup.heartbeat_period),
      saved_bit_rate_(setup.bit_rate),
      saved_node_id_(setup.node_id),
      random_(seedFor(setup)),
      last_advance_(Clock::now()) {
    answer(common::kGetHardwareVersion, [this] {
        const auto& h = identity_.hardware;
        return std::tuple<uint8_t, uint8_t, uint8_t, uint8_t>{h[0], h[1], h[2], h[3]};
    });
    answer(common::kGetFirmwareVersion, [this] {
        return std::tuple<uint8_t, uint8_t, uint16_t>{identity_.firmware_major, identity_.firmware_minor,
                                                      identity_.firmware_patch};
    });
    // The motor controllers lay the commit out as eight bytes, the others as text.
    const protocol::ReplyLayout* commit = routes_.find(common::kGetFirmwareCommit);
    if (commit != nullptr && commit->count == 1 && commit->kinds[0] == protocol::ValueKind::Text) {
        answer(common::kGetFirmwareCommit, [this] { return identity_.commit; });
    } else {
        answer(common::kGetFirmwareCommit, [this] {
            return std::apply([](auto... byte) { return std::tuple{byte...}; }, textBytes(identity_.commit));
        });
    }
    answer(common::kGetNodeId, [this] { return static_cast<unsigned int>(node_id_.load()); });
    onCommand(common::kSaveConfigurations, [this](const can_frame_data&) { saveConfiguration(); });
    onCommand(common::kEraseConfigurations, [this](const can_frame_data&) { eraseConfiguration(); });
    // The device restarts after the frame; the host sees it silent for a moment.
    onCommand(common::kReboot, [this](const can_frame_data&) { rebootLocked(kDefaultBootTime); });
}

Node::~Node() = default;

void Node::setBitRate(CANBaudRate rate) {
    std::lock_guard<std::mutex> lock(mutex_);
    bit_rate_ = rate;
}

void Node::setHeartbeatsEnabled(bool enabled) { heartbeats_enabled_ = enabled; }

void Node::setHeartbeatPeriod(std::chrono::milliseconds period) {
    std::lock_guard<std::mutex> lock(mutex_);
    // A zero period would make the timing thread spin.
    heartbeat_period_ = std::max(period, std::chrono::milliseconds(1));
}

std::chrono::milliseconds Node::heartbeatPeriod() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return heartbeat_period_;
}

void Node::setReplyFaults(const ReplyFaults& faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    default_faults_ = faults;
}

void Node::setReplyFaults(uint8_t command, const ReplyFaults& faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    command_faults_[command & kCommandMask] = faults;
}

void Node::setRepeatedReplies(std::chrono::microseconds after, std::optional<uint8_t> command) {
    std::lock_guard<std::mutex> lock(mutex_);
    repeat_after_ = after;
    repeat_command_ = command;
}

void Node::clearReplyFaults() {
    std::lock_guard<std::mutex> lock(mutex_);
    default_faults_ = ReplyFaults{};
    command_faults_.clear();
    repeat_after_.reset();
}

void Node::reboot(std::chrono::milliseconds silence) {
    std::lock_guard<std::mutex> lock(mutex_);
    rebootLocked(silence);
}

void Node::rebootLocked(std::chrono::milliseconds silence) {
    online_ = false;
    const uint64_t generation = ++boot_generation_;
    registers_.restoreSaved();
    bit_rate_ = saved_bit_rate_;
    node_id_ = saved_node_id_;
    onReboot();
    if (context_ != nullptr) {
        context_->schedule(Clock::now() + silence, [this, generation] { finishBoot(generation); });
    } else {
        online_ = true;
    }
}

void Node::receiveStandard(const can_frame_data& frame) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!online_) return;
    ++frames_heard_;
    onStandardFrame(frame);
}

void Node::finishBoot(uint64_t generation) {
    std::lock_guard<std::mutex> lock(mutex_);
    // A second reboot while the first was under way restarts the silence.
    if (generation != boot_generation_) return;
    last_advance_ = Clock::now();
    online_ = true;
}

uint64_t Node::registerWord(uint8_t read_command) {
    std::lock_guard<std::mutex> lock(mutex_);
    return registers_.word(read_command);
}

uint64_t Node::savedRegisterWord(uint8_t read_command) {
    std::lock_guard<std::mutex> lock(mutex_);
    return registers_.savedWord(read_command);
}

void Node::receive(const can_frame_data& frame) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!online_) return;
    ++frames_heard_;
    advanceLocked(Clock::now());

    const uint8_t command = frame.can_id & kCommandMask;
    if (command == protocol::kHeartbeat || command == protocol::kAcknowledgement) return;
    // Some queries travel as data frames with arguments, so a reply route wins
    // whatever the frame kind; read and write commands never share an id.
    if (queries_[command]) {
        if (answersQuery(command)) reply(frame, command, queries_[command]);
    } else if (commands_[command]) {
        commands_[command](frame);
    }
}

void Node::reply(const can_frame_data& request, uint8_t command, const QueryHandler& handler) {
    can_frame_data out{};
    handler(request, out);
    const ReplyFaults& faults = faultsFor(command);
    if (faults.drop_fraction > 0.0) {
        const bool drop = faults.drop_fraction >= 1.0 ||
                          std::uniform_real_distribution<double>(0.0, 1.0)(random_) < faults.drop_fraction;
        if (drop) {
            ++replies_dropped_;
            return;
        }
    }
    const uint8_t carried = faults.answer_as.value_or(command) & kCommandMask;
    out.can_id = protocol::nodeFrameId(node_id_.load(), carried, static_cast<uint8_t>(device_type_));
    out.can_dlc = kReplyDlc;
    ++replies_sent_;
    if (context_ == nullptr) return;
    context_->transmit(*this, out, faults.delay);
    if (repeat_after_ && (!repeat_command_ || *repeat_command_ == command)) {
        context_->transmit(*this, out, faults.delay + *repeat_after_);
    }
}

const ReplyFaults& Node::faultsFor(uint8_t command) const {
    const auto found = command_faults_.find(command);
    return found == command_faults_.end() ? default_faults_ : found->second;
}

void Node::sendHeartbeat() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!online_ || !heartbeats_enabled_) return;
    advanceLocked(Clock::now());
    can_frame_data frame{};
    frame.can_dlc = kReplyDlc;
    fillHeartbeat(frame);
    frame.can_id = protocol::nodeFrameId(node_id_.load(), protocol::kHeartbeat, static_cast<uint8_t>(device_type_));
    ++heartbeats_sent_;
    if (context_ != nullptr) context_->transmit(*this, frame, std::chrono::microseconds(0));
}

void Node::advance(Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    advanceLocked(now);
}

void Node::advanceLocked(Clock::time_point now) {
    if (now <= last_advance_) return;
    const auto elapsed = now - last_advance_;
    last_advance_ = now;
    onTick(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed));
}

void Node::onCommand(uint8_t command, CommandHandler handler) { commands_[command & kCommandMask] = std::move(handler); }

void Node::registerQuery(uint8_t command, const protocol::ReplyLayout& layout, QueryHandler handler) {
    const protocol::ReplyLayout* route = routes_.find(command);
    if (route == nullptr) {
        throw std::logic_error("simulated " + std::string(nodeKindName(setup_.kind)) + " answers command " +
                               commandName(command) + ", which its class's routing table does not list");
    }
    if (!sameLayout(*route, layout)) {
        throw std::logic_error("simulated " + std::string(nodeKindName(setup_.kind)) + " answers command " +
                               commandName(command) + " with values other than its reply layout");
    }
    queries_[command & kCommandMask] = std::move(handler);
}

void Node::answerWithDefaults(uint8_t command) {
    const uint8_t index = command & kCommandMask;
    if (queries_[index] || routes_.find(command) == nullptr) return;
    queries_[index] = [](const can_frame_data&, can_frame_data&) {};
}

void Node::bindRegister(uint8_t read_command, uint8_t write_command, uint64_t factory_word) {
    const protocol::ReplyLayout* route = routes_.find(read_command);
    if (route == nullptr) {
        throw std::logic_error("register " + commandName(read_command) + " has no reply route");
    }
    const uint64_t mask = layoutMask(*route);
    registers_.define(read_command, factory_word & mask);
    queries_[read_command & kCommandMask] = [this, read_command](const can_frame_data&, can_frame_data& reply) {
        protocol::setPayloadWord(reply, registers_.word(read_command));
    };
    onCommand(write_command, [this, read_command, mask](const can_frame_data& frame) {
        registers_.setWord(read_command, protocol::payloadWord(frame) & mask);
    });
}

void Node::saveConfiguration() {
    registers_.save();
    saved_bit_rate_ = bit_rate_.load();
    saved_node_id_ = node_id_.load();
    onSave();
}

void Node::eraseConfiguration() {
    registers_.erase();
    // Communication settings return to the factory values at the next boot, so
    // that the node does not drop off the bus in the middle of a session.
    saved_bit_rate_ = setup_.bit_rate;
    saved_node_id_ = setup_.node_id;
    onErase();
}

void Node::transmitFrame(const can_frame_data& frame, std::chrono::microseconds delay) {
    if (context_ != nullptr) context_->transmit(*this, frame, delay);
}

bool Node::answersQuery(uint8_t) { return true; }
void Node::fillHeartbeat(can_frame_data&) {}
void Node::onTick(std::chrono::nanoseconds) {}
void Node::onSave() {}
void Node::onErase() {}
void Node::onReboot() {}
void Node::onStandardFrame(const can_frame_data&) {}

}  // namespace kinetra::sim
