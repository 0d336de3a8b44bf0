#pragma once
/// @file node.h
/// The base of every simulated device node: identity, bit rate, heartbeats,
/// query and command handlers, configuration registers and fault knobs.

#include <kinetra/can_frame.h>
#include <kinetra/types.h>

#include "kinetra_sim/config_store.h"
#include "kinetra_sim/node_context.h"
#include "kinetra_sim/reply_faults.h"
#include "kinetra_sim/setups.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>

// The protocol's own types, complete in the library's protocol headers; the
// node's users need only their names.
namespace kinetra::protocol {
enum class DeviceType : uint8_t;
struct ReplyLayout;
class RouteTable;
}  // namespace kinetra::protocol

namespace kinetra::sim {

/// The versions a node reports; fixed for the node's life.
struct NodeIdentity {
    std::array<uint8_t, 4> hardware{};
    uint8_t firmware_major = 0;
    uint8_t firmware_minor = 0;
    uint16_t firmware_patch = 0;
    /// The firmware commit, up to eight characters.
    std::string commit;
};

/// One simulated node. Subclasses (one per device class) register the handlers of
/// their command set in their constructors with answer(), onCommand() and
/// bindRegister(), and may add physics through onTick().
///
/// Threading: the bus calls receive(), sendHeartbeat() and advance() from its
/// threads; tests call the knobs and accessors from theirs. Every handler runs
/// with the node's lock held, so handlers use the node's state freely; public
/// accessors of subclasses take the lock with withState().
class Node {
public:
    using Clock = std::chrono::steady_clock;
    /// How long a reboot keeps a node silent unless told otherwise.
    static constexpr std::chrono::milliseconds kDefaultBootTime{300};

    virtual ~Node();
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    /// The device class this node models.
    NodeKind kind() const { return setup_.kind; }
    /// The type the node reports in its heartbeat.
    protocol::DeviceType deviceType() const { return device_type_; }
    /// The node id it answers to and sends with.
    uint32_t nodeId() const { return node_id_.load(); }
    /// The versions the node reports.
    const NodeIdentity& identity() const { return identity_; }
    /// The factory settings it was built with.
    const NodeSetup& setup() const { return setup_; }

    /// The node's live CAN bit rate.
    CANBaudRate bitRate() const { return bit_rate_.load(); }
    /// Changes the live bit rate at once (saving the configuration keeps it).
    void setBitRate(CANBaudRate rate);
    /// False while the node reboots.
    bool online() const { return online_.load(); }

    // --- Fault knobs -----------------------------------------------------------

    /// Stops or resumes heartbeats; a node without heartbeats is lost on the host
    /// side after about a second, though it still answers queries.
    void setHeartbeatsEnabled(bool enabled);
    bool heartbeatsEnabled() const { return heartbeats_enabled_.load(); }
    /// The heartbeat period; takes effect from the next heartbeat.
    void setHeartbeatPeriod(std::chrono::milliseconds period);
    std::chrono::milliseconds heartbeatPeriod() const;
    /// Faults for the replies to every query without faults of its own.
    void setReplyFaults(const ReplyFaults& faults);
    /// Faults for the replies to one query command.
    void setReplyFaults(uint8_t command, const ReplyFaults& faults);
    /// Sends each reply (to `command` only, when given) a second time, `after`
    /// the first, as a bus or adapter that repeats frames does.
    void setRepeatedReplies(std::chrono::microseconds after, std::optional<uint8_t> command = std::nullopt);
    /// Back to well-behaved replies (repeats included).
    void clearReplyFaults();
    /// Reboots the node: silent (no heartbeats, no replies, deaf) for `silence`,
    /// then back with its saved configuration.
    void reboot(std::chrono::milliseconds silence = kDefaultBootTime);

    // --- Counters ----------------------------------------------------------------

    /// Frames addressed to the node that it heard.
    uint64_t framesHeard() const { return frames_heard_.load(); }
    /// Replies sent (a delayed reply counts when it is scheduled).
    uint64_t repliesSent() const { return replies_sent_.load(); }
    /// Replies the drop fault swallowed.
    uint64_t repliesDropped() const { return replies_dropped_.load(); }
    /// Heartbeats sent.
    uint64_t heartbeatsSent() const { return heartbeats_sent_.load(); }

    // --- State -------------------------------------------------------------------

    /// Runs `fn` with the node's lock held and returns its result: the way to read
    /// or change state consistently from outside the bus's threads.
    template <typename Fn>
    auto withState(Fn&& fn) {
        std::lock_guard<std::mutex> lock(mutex_);
        return fn();
    }
    /// The live word of a configuration register (0 when undefined).
    uint64_t registerWord(uint8_t read_command);
    /// The saved word of a configuration register (0 when undefined).
    uint64_t savedRegisterWord(uint8_t read_command);

    // --- Called by the bus --------------------------------------------------------

    /// Connects the node to its bus; called once before start.
    void attach(NodeContext& context) { context_ = &context; }
    /// Handles one frame addressed to this node (or to every node).
    void receive(const can_frame_data& frame);
    /// Handles one standard-identifier frame (the bootloader's kind), which carries
    /// no node id: every node at the adapter's rate hears it.
    void receiveStandard(const can_frame_data& frame);
    /// Sends one heartbeat if the node is online with heartbeats enabled.
    void sendHeartbeat();
    /// Advances the simulated physics to `now`.
    void advance(Clock::time_point now);
    /// The period of the physics tick the node asks for; zero for none.
    std::chrono::microseconds tickPeriod() const { return tick_period_; }

protected:
    using QueryHandler = std::function<void(const can_frame_data& request, can_frame_data& reply)>;
    using CommandHandler = std::function<void(const can_frame_data& frame)>;

    /// `routes` is the class's reply routing table, which every answer() is
    /// checked against. Registers the handlers every class shares: hardware and
    /// firmware versions, commit, node id, save and erase of the configuration,
    /// reboot.
    Node(const NodeSetup& setup, protocol::DeviceType type, const protocol::RouteTable& routes,
         NodeIdentity identity);

    /// Registers the reply to the query `command`: `fn` (taking the request frame,
    /// or nothing) returns the reply's values, as one value or a std::tuple, whose
    /// types must be exactly the class's reply layout for `command`. Throws
    /// std::logic_error when the routing table has no such entry or another layout.
    /// Defined in the simulator's node_answer.h, with the payload packing it uses.
    template <typename Fn>
    void answer(uint8_t command, Fn fn);
    /// Registers what a command frame (data, or remote without a reply route) does.
    void onCommand(uint8_t command, CommandHandler handler);
    /// A configuration register read by `read_command` and written by the payload
    /// of `write_command` (same layout), saved and erased with the configuration.
    void bindRegister(uint8_t read_command, uint8_t write_command, uint64_t factory_word);
    /// The registers, for handlers (lock held).
    ConfigStore& registers() { return registers_; }

    /// Fills the heartbeat's DLC and payload; the base sends eight zero bytes.
    virtual void fillHeartbeat(can_frame_data& frame);
    /// Physics hook: `elapsed` simulated time passed since the last call. Runs
    /// with the lock held before every frame the node handles, before every
    /// heartbeat and on the tick of setTickPeriod().
    virtual void onTick(std::chrono::nanoseconds elapsed);
    /// Called (lock held) after the configuration was saved, erased or reloaded
    /// by a reboot, for state kept outside the registers.
    virtual void onSave();
    virtual void onErase();
    virtual void onReboot();
    /// Standard-identifier frames (lock held); the base ignores them.
    virtual void onStandardFrame(const can_frame_data& frame);
    /// Whether the node answers the query `command` now (lock held). A node that
    /// declines stays silent and the host's query times out; the base answers all.
    virtual bool answersQuery(uint8_t command);
    /// Answers `command`, a query of the class's routing table, with zero values
    /// unless a handler answers it already.
    void answerWithDefaults(uint8_t command);
    /// Changes the live bit rate from a handler (lock held).
    void switchBitRate(CANBaudRate rate) { bit_rate_ = rate; }
    /// Sends a frame of the handler's own making (lock held), after `delay`.
    void transmitFrame(const can_frame_data& frame, std::chrono::microseconds delay);
    /// Asks the bus for a periodic physics tick (zero: none); call in the constructor.
    void setTickPeriod(std::chrono::microseconds period) { tick_period_ = period; }

private:
    void registerQuery(uint8_t command, const protocol::ReplyLayout& layout, QueryHandler handler);
    void reply(const can_frame_data& request, uint8_t command, const QueryHandler& handler);
    const ReplyFaults& faultsFor(uint8_t command) const;
    void advanceLocked(Clock::time_point now);
    void rebootLocked(std::chrono::milliseconds silence);
    void finishBoot(uint64_t generation);
    void saveConfiguration();
    void eraseConfiguration();

    const NodeSetup setup_;
    const protocol::DeviceType device_type_;
    const protocol::RouteTable& routes_;
    const NodeIdentity identity_;
    NodeContext* context_ = nullptr;

    std::atomic<uint32_t> node_id_;
    std::atomic<CANBaudRate> bit_rate_;
    std::atomic<bool> online_{true};
    std::atomic<bool> heartbeats_enabled_{true};
    std::atomic<uint64_t> frames_heard_{0};
    std::atomic<uint64_t> replies_sent_{0};
    std::atomic<uint64_t> replies_dropped_{0};
    std::atomic<uint64_t> heartbeats_sent_{0};

    mutable std::mutex mutex_;
    // Everything below is guarded by mutex_.
    std::chrono::milliseconds heartbeat_period_;
    CANBaudRate saved_bit_rate_;
    uint32_t saved_node_id_;
    ConfigStore registers_;
    std::array<QueryHandler, 128> queries_{};
    std::array<CommandHandler, 128> commands_{};
    ReplyFaults default_faults_;
    std::map<uint8_t, ReplyFaults> command_faults_;
    std::optional<std::chrono::microseconds> repeat_after_;
    std::optional<uint8_t> repeat_command_;
    std::mt19937 random_;
    uint64_t boot_generation_ = 0;
    Clock::time_point last_advance_;
    std::chrono::microseconds tick_period_{0};
};

}  // namespace kinetra::sim
