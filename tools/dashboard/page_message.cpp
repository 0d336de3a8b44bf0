#include "dashboard/page_message.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <utility>

namespace kinetra::dashboard {

namespace {

struct ActionEntry {
    const char* name;
    MotorAction action;
};
constexpr ActionEntry kActions[] = {
    {"idle", MotorAction::Idle},         {"active", MotorAction::Active},     {"clear_errors", MotorAction::ClearErrors},
    {"estop", MotorAction::EmergencyStop}, {"position", MotorAction::Position}, {"velocity", MotorAction::Velocity},
    {"torque", MotorAction::Torque},
};

/// Thrown inside the parser only; parsePageMessage() turns it into an error.
struct Refusal {
    std::string reason;
};

const nlohmann::json& member(const nlohmann::json& message, const char* name) {
    const auto found = message.find(name);
    if (found == message.end()) throw Refusal{std::string("missing \"") + name + "\""};
    return *found;
}

unsigned nodeOf(const nlohmann::json& message) {
    const nlohmann::json& node = member(message, "node");
    if (!node.is_number_unsigned() || node.get<std::uint64_t>() < 1 || node.get<std::uint64_t>() > kMaxNodeId) {
        throw Refusal{"\"node\" must be an integer from 1 to " + std::to_string(kMaxNodeId)};
    }
    return node.get<unsigned>();
}

double finiteOf(const nlohmann::json& message, const char* name) {
    const nlohmann::json& value = member(message, name);
    if (!value.is_number()) throw Refusal{std::string("\"") + name + "\" must be a number"};
    const double number = value.get<double>();
    if (!std::isfinite(number)) throw Refusal{std::string("\"") + name + "\" must be finite"};
    return number;
}

MotorAction actionOf(const nlohmann::json& message) {
    const nlohmann::json& name = member(message, "action");
    if (name.is_string()) {
        for (const ActionEntry& entry : kActions) {
            if (name.get_ref<const std::string&>() == entry.name) return entry.action;
        }
    }
    throw Refusal{"unknown \"action\""};
}

PageRequest requestOf(const std::string& type, const nlohmann::json& message) {
    if (type == "motor") {
        MotorCommand command{actionOf(message), nodeOf(message), 0};
        if (hasSetPoint(command.action)) command.value = finiteOf(message, "value");
        return command;
    }
    if (type == "stop_all") return StopAll{};
    if (type == "arm") return Arm{};
    if (type == "limit") {
        SetLimit limit{actionOf(message), nodeOf(message), finiteOf(message, "limit")};
        if (!hasSetPoint(limit.action)) throw Refusal{"a limit is for position, velocity or torque"};
        if (limit.limit < 0) throw Refusal{"\"limit\" must not be negative"};
        return limit;
    }
    if (type == "rate") {
        const double hz = finiteOf(message, "hz");
        if (hz < kMinSampleRate || hz > kMaxSampleRate) throw Refusal{"\"hz\" must be from 1 to 200"};
        return SetRate{hz};
    }
    if (type == "record") {
        const nlohmann::json& on = member(message, "on");
        if (!on.is_boolean()) throw Refusal{"\"on\" must be true or false"};
        return Record{on.get<bool>()};
    }
    if (type == "config_read") return ConfigRead{nodeOf(message)};
    if (type == "config_save") return ConfigSave{nodeOf(message)};
    if (type == "calibrate") {
        const unsigned node = nodeOf(message);
        const double speed = finiteOf(message, "speed");
        if (speed == 0 || std::fabs(speed) > kMaxShaftSpeed) throw Refusal{"\"speed\" must be nonzero, at most 7200 deg/s"};
        return Calibrate{node, speed};
    }
    if (type == "config_write") {
        const unsigned node = nodeOf(message);
        const nlohmann::json& name = member(message, "member");
        if (!name.is_string() || name.get_ref<const std::string&>().empty()) {
            throw Refusal{"\"member\" must be a setting's name"};
        }
        return ConfigWrite{node, name.get<std::string>(), finiteOf(message, "value")};
    }
    throw Refusal{"unknown message type"};
}

}  // namespace

bool moves(MotorAction action) {
    return action == MotorAction::Active || action == MotorAction::Position || action == MotorAction::Velocity ||
           action == MotorAction::Torque;
}

bool hasSetPoint(MotorAction action) {
    return action == MotorAction::Position || action == MotorAction::Velocity || action == MotorAction::Torque;
}

const char* actionName(MotorAction action) {
    for (const ActionEntry& entry : kActions) {
        if (entry.action == action) return entry.name;
    }
    return "?";
}

ParseResult parsePageMessage(std::string_view text) {
    if (text.size() > kMaxPageMessageBytes) return {std::nullopt, "message too large"};
    const nlohmann::json message = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    if (message.is_discarded()) return {std::nullopt, "not JSON"};
    if (!message.is_object()) return {std::nullopt, "not a JSON object"};
    PageMessage parsed;
    try {
        const auto id = message.find("id");
        if (id != message.end()) {
            if (!id->is_number_integer()) throw Refusal{"\"id\" must be an integer"};
            parsed.id = id->get<std::int64_t>();
        }
        const nlohmann::json& type = member(message, "type");
        if (!type.is_string()) throw Refusal{"\"type\" must be a string"};
        parsed.request = requestOf(type.get<std::string>(), message);
        const std::int64_t id_value = parsed.id;
        return {std::move(parsed), {}, id_value};
    } catch (const Refusal& refusal) {
        return {std::nullopt, refusal.reason, parsed.id};
    }
}

}  // namespace kinetra::dashboard
