#pragma once
// What a page may ask over its WebSocket, parsed and checked before anything
// reaches the bus: an unknown kind, a missing or mistyped member, a node id out
// of range or a set point that is not a finite number is refused with a reason.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace kinetra::dashboard {

/// The largest WebSocket message a page may send; larger ones are refused unread.
constexpr std::size_t kMaxPageMessageBytes = 16 * 1024;
/// The node ids the protocol can address (18 bits).
constexpr unsigned kMaxNodeId = 0x3FFFF;
/// The sampling rates a page may choose, in Hz.
constexpr double kMinSampleRate = 1.0;
constexpr double kMaxSampleRate = 200.0;
/// The fastest shaft speed a calibration may ask for, either way, in deg/s.
constexpr double kMaxShaftSpeed = 7200.0;

/// The commands to one driver or actuator.
enum class MotorAction { Idle, Active, ClearErrors, EmergencyStop, Position, Velocity, Torque };

/// Whether an action can set a motor moving (and so needs the page's confirmation).
bool moves(MotorAction action);
/// Whether an action carries a set point.
bool hasSetPoint(MotorAction action);
/// "idle", "active", "clear_errors", "estop", "position", "velocity", "torque".
const char* actionName(MotorAction action);

struct MotorCommand {
    MotorAction action = MotorAction::Idle;
    unsigned node = 0;
    double value = 0;
};
/// Every driver and actuator to its stopped state.
struct StopAll {};
/// The page confirmed once that it may move motors.
struct Arm {};
/// A symmetric limit the server enforces on a node's set points of one kind.
struct SetLimit {
    MotorAction action = MotorAction::Position;
    unsigned node = 0;
    double limit = 0;
};
struct SetRate {
    double hz = 0;
};
struct Record {
    bool on = false;
};
struct ConfigRead {
    unsigned node = 0;
};
/// One member of a driver's configuration document, changed and written back.
struct ConfigWrite {
    unsigned node = 0;
    std::string member;
    double value = 0;
};
struct ConfigSave {
    unsigned node = 0;
};
/// The off-axis calibration of an encoder's chip at a shaft speed in deg/s.
struct Calibrate {
    unsigned node = 0;
    double speed = 0;
};

using PageRequest = std::variant<MotorCommand, StopAll, Arm, SetLimit, SetRate, Record, ConfigRead, ConfigWrite,
                                 ConfigSave, Calibrate>;

/// A parsed message: the request and the id the page chose for its reply.
struct PageMessage {
    std::int64_t id = 0;
    PageRequest request;
};

/// Either a message or why it was refused, with the id it had when that was readable.
struct ParseResult {
    std::optional<PageMessage> message;
    std::string error;
    std::int64_t id = 0;
};

/// Parses one text message from a page. Never throws.
ParseResult parsePageMessage(std::string_view text);

}  // namespace kinetra::dashboard
