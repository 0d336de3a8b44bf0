// kinetra idle|active|estop|clear-errors|position|velocity|torque: one command
// to a driver or actuator each.

#include "commands/command.h"

#include "cli/device_access.h"

namespace kinetra::cli {

namespace {

struct MotionArguments {
    unsigned node = 0;
    double value = 0;
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
     [](Actuator& a, float v) { return a.setTorqueControl(v, 0.0f); }},
};

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
                                switch (classOfType(type)) {
                                    case DeviceClass::Driver: {
                                        Driver driver(node, &session.bus());
                                        status = chosen->driver(driver, value);
                                        break;
                                    }
                                    case DeviceClass::Actuator: {
                                        Actuator actuator(node, &session.bus());
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
                                if (out.json()) {
                                    nlohmann::json json = {{"node", node}, {"command", chosen->name}, {"sent", true}};
                                    if (chosen->value_name != nullptr) json["value"] = value;
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
