// kinetra idle|active|estop|clear-errors|position|velocity|torque: one command
// to a driver or actuator each.

#include "commands/command.h"

#include "cli/device_access.h"

#include <kinetra/device_codes.h>

#include <cmath>
#include <iostream>

namespace kinetra::cli {

namespace {

struct MotionArguments {
    unsigned node = 0;
    double value = 0;
    bool force = false;
};

/// What a motion subcommand sends, for either motor controller class.
struct MotionAction {
    const char* name;
    const char* help;
    const char* value_name;  ///< nullptr: no value argument
    const char* value_help;
    const char* unit;
    ret_status_t (*driver)(Driver&, float);
    ret_status_t (*actuator)(Actuator&, float);
    /// Reads the limit the device reports for the value; nullptr when it reports none.
    ret_status_t (*driver_limit)(Driver&, float*) = nullptr;
};

const MotionAction kActions[] = {
    {"idle", "Put a driver or actuator into idle", nullptr, nullptr, "",
     [](Driver& d, float) { return d.setDeviceToIdle(); }, [](Actuator& a, float) { return a.setDeviceToIdle(); }},
    {"active", "Put a driver or actuator into its active (closed-loop) state", nullptr, nullptr, "",
     [](Driver& d, float) { return d.setDeviceToActive(); },
     [](Actuator& a, float) { return a.setDeviceToActive(); }},
    {"estop", "Stop the motor at once (emergency stop)", nullptr, nullptr, "",
     [](Driver& d, float) { return d.emergencyStop(); }, [](Actuator& a, float) { return a.emergencyStop(); }},
    {"clear-errors", "Clear the node's errors", nullptr, nullptr, "",
     [](Driver& d, float) { return d.clearDriverErrors(); },
     [](Actuator& a, float) { return a.clearActuatorErrors(); }},
    {"position", "Position control to a target", "TURNS", "target position in turns of the motor", "turns",
     [](Driver& d, float v) { return d.setPositionControl(v, 0.0f); },
     [](Actuator& a, float v) { return a.setPositionControl(v, 0.0f); }},
    {"velocity", "Velocity control at a speed", "TURNS_PER_S", "target velocity in turns per second", "turns/s",
     [](Driver& d, float v) { return d.setVelocityControl(v); },
     [](Actuator& a, float v) { return a.setVelocityControl(v); }},
    {"torque", "Torque control to a torque", "NM", "target torque in newton metres", "Nm",
     [](Driver& d, float v) { return d.setTorqueControl(v, 0.0f); },
     [](Actuator& a, float v) { return a.setTorqueControl(v, 0.0f); },
     [](Driver& d, float* limit) { return d.getMotorTorqueLimit(limit); }},
};

/// Refuses a set point beyond the limit the driver reports, unless forced.
void checkLimit(Driver& driver, unsigned node, const MotionAction& action, float value, bool force) {
    if (action.driver_limit == nullptr || force) return;
    float limit = 0;
    require(node, std::string(action.name) + " limit", action.driver_limit(driver, &limit));
    if (std::fabs(value) > limit) {
        throw CliError(kExitUsage, "node " + std::to_string(node) + ": " + action.name + " " + fixed(value, 3) + " " +
                                       action.unit + " is beyond the device's limit of " + fixed(limit, 3) + " " +
                                       action.unit + "; --force sends it anyway");
    }
}

/// A set point sent to an idle controller is not followed: says what to do first.
template <typename Motor>
std::string idleHint(Motor& motor, unsigned node) {
    unsigned char state = 0;
    if (motor.getControllerState(&state) != RET_OK || state != kinetra::kControllerStateIdle) return {};
    return "node " + std::to_string(node) + " is idle: kinetra active " + std::to_string(node) + " first";
}

}  // namespace

void addMotionCommands(CLI::App& app, Registry& registry) {
    for (const MotionAction& action : kActions) {
        CLI::App* sub = app.add_subcommand(action.name, action.help);
        auto arguments = std::make_shared<MotionArguments>();
        addNodeArgument(sub, arguments->node);
        std::string example = std::string("Example:\n  kinetra ") + action.name + " 1";
        if (action.value_name != nullptr) {
            sub->add_option(action.value_name, arguments->value, action.value_help)
                ->required()
                ->check(finiteNumber());
            if (action.driver_limit != nullptr) {
                sub->add_flag("--force", arguments->force, "send it even beyond the limit the device reports");
            }
            example += std::string(" 2.5   # ") + action.value_help;
        }
        sub->footer(example + "\nThe command is sent and not confirmed by the device; check with telemetry.");
        const MotionAction* chosen = &action;
        registry.push_back({sub, [arguments, chosen](Context& context) {
                                BusSession session(context.bus, *context.stop);
                                session.open();
                                const unsigned node = arguments->node;
                                const unsigned type = session.waitForNode(node);
                                const auto value = static_cast<float>(arguments->value);
                                ret_status_t status = RET_OK;
                                const bool set_point = chosen->value_name != nullptr;
                                std::string hint;
                                switch (classOfType(type)) {
                                    case DeviceClass::Driver: {
                                        Driver driver(node, &session.bus());
                                        if (set_point) {
                                            checkLimit(driver, node, *chosen, value, arguments->force);
                                            hint = idleHint(driver, node);
                                        }
                                        status = chosen->driver(driver, value);
                                        break;
                                    }
                                    case DeviceClass::Actuator: {
                                        Actuator actuator(node, &session.bus());
                                        if (set_point) hint = idleHint(actuator, node);
                                        status = chosen->actuator(actuator, value);
                                        break;
                                    }
                                    default:
                                        throw CliError(kExitDevice, "node " + std::to_string(node) + " is " +
                                                                        className(classOfType(type)) +
                                                                        ", not a driver or actuator");
                                }
                                require(node, chosen->name, status);
                                Output& out = *context.out;
                                if (!hint.empty()) Output::error(hint);
                                if (out.json()) {
                                    nlohmann::json json = {{"node", node}, {"command", chosen->name}, {"sent", true}};
                                    if (chosen->value_name != nullptr) json["value"] = value;
                                    if (!hint.empty()) json["hint"] = hint;
                                    out.document(json);
                                } else {
                                    out.out() << "node " << node << ": " << chosen->name;
                                    if (chosen->value_name != nullptr) out.out() << " " << fixed(value, 3) << " " << chosen->unit;
                                    out.out() << " sent\n";
                                }
                                return static_cast<int>(kExitOk);
                            }});
    }
}

}  // namespace kinetra::cli
