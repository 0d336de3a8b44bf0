// kinetra info NODE: identity, versions, configuration summary, errors.

#include "commands/command.h"

#include "cli/device_access.h"
#include "cli/report.h"

#include <kinetra/device_codes.h>

namespace kinetra::cli {

namespace {

/// The codes every motor controller reports, by name and number: the JSON
/// keeps the numbers under their keys and adds the names beside them.
void describeCodes(Report& report, unsigned state, unsigned mode, unsigned long error, bool driver,
                   unsigned long fault) {
    report.add("controller_state", "controller state", controllerStateText(state), state)
        .jsonOnly("controller_state_name", controllerStateName(state))
        .add("controller_mode", "controller mode", controllerModeText(mode), mode)
        .jsonOnly("controller_mode_name", controllerModeName(mode));
    report.add("error_code", "error code", errorCodeText(error, driver), error)
        .jsonOnly("error_code_name", errorCodeName(error, driver));
    report.add("fault", "fault word", faultText(fault), fault).jsonOnly("fault_bits", faultBitNames(fault));
}

void describe(Driver& driver, unsigned node, Report& report) {
    float ratio = 0, current_limit = 0, torque_limit = 0, volts = 0, amps = 0;
    unsigned char pole_pairs = 0, state = 0, encoder_type = 0;
    unsigned short kv = 0, mode = 0;
    int resolution = 0;
    bool use_index = false;
    CANBaudRate rate = CAN_BAUD_1M;
    driver_error_t error = DRIVER_ERROR_0;
    unsigned fault = 0;
    require(node, "gear ratio", driver.getGearBoxParameters(&ratio));
    require(node, "motor parameters", driver.getMotorParameters(&pole_pairs, &kv, &current_limit));
    require(node, "torque limit", driver.getMotorTorqueLimit(&torque_limit));
    require(node, "motor encoder configuration", driver.getMotorEncoderConfiguration(&encoder_type, &resolution, &use_index));
    require(node, "bit rate", driver.getCANBaudRate(&rate));
    require(node, "controller state", driver.getControllerState(&state));
    require(node, "controller mode", driver.getControllerMode(&mode));
    require(node, "bus voltage", driver.getBusVoltage(&volts));
    require(node, "bus current", driver.getBusCurrent(&amps));
    require(node, "error code", driver.getErrorCode(&error));
    require(node, "driver fault", driver.getDriverFault(&fault));
    report.number("gear_ratio", "gear ratio", ratio, 2, "")
        .add("pole_pairs", "pole pairs", std::to_string(pole_pairs), pole_pairs)
        .add("kv_rating", "kv rating", std::to_string(kv) + " rpm/V", kv)
        .number("current_limit", "current limit", current_limit, 2, "A")
        .number("torque_limit", "torque limit", torque_limit, 3, "Nm")
        .add("motor_encoder", "motor encoder",
             "type " + std::to_string(encoder_type) + ", " + std::to_string(resolution) + " counts/turn" +
                 (use_index ? ", index" : ""),
             {{"type", encoder_type}, {"resolution", resolution}, {"use_index", use_index}})
        .add("bit_rate", "CAN bit rate", bitRateName(rate), bitRateName(rate))
        .number("bus_voltage", "bus voltage", volts, 2, "V")
        .number("bus_current", "bus current", amps, 2, "A");
    describeCodes(report, state, mode, static_cast<unsigned long>(error), true, fault);
}

void describe(Actuator& actuator, unsigned node, Report& report) {
    unsigned char state = 0;
    unsigned short mode = 0;
    unsigned error = 0, fault = 0;
    float volts = 0;
    require(node, "controller state", actuator.getControllerState(&state));
    require(node, "controller mode", actuator.getControllerMode(&mode));
    require(node, "bus voltage", actuator.getBusVoltage(&volts));
    require(node, "error code", actuator.getErrorCode(&error));
    require(node, "driver fault", actuator.getDriverFault(&fault));
    report.number("bus_voltage", "bus voltage", volts, 2, "V");
    describeCodes(report, state, mode, error, false, fault);
}

void describe(IMU& imu, unsigned node, Report& report) {
    bool calibrated = false;
    require(node, "calibration status", imu.getCalibrationStatus(&calibrated));
    report.add("calibration_status", "calibration", calibrated ? "running" : "idle", calibrated);
}

void describe(Vorlex& encoder, unsigned node, Report& report) {
    unsigned char type = 0, direction = 0;
    int resolution = 0;
    float scaling = 0;
    unsigned window = 0, error = 0;
    CANBaudRate rate = CAN_BAUD_1M;
    require(node, "encoder configuration", encoder.getEncoderConfiguration(&type, &resolution));
    require(node, "direction", encoder.getEncoderDirection(&direction));
    require(node, "scaling factor", encoder.getScalingFactor(&scaling));
    require(node, "filter window", encoder.getFilterWindowLength(&window));
    require(node, "bit rate", encoder.getCANBaudRate(&rate));
    require(node, "error code", encoder.getErrorCode(&error));
    report.add("encoder", "encoder", "type " + std::to_string(type) + ", " + std::to_string(resolution) + " counts/turn",
               {{"type", type}, {"resolution", resolution}})
        .add("direction", "direction", std::to_string(direction), direction)
        .number("scaling_factor", "scaling factor", scaling, 4, "")
        .add("filter_window", "filter window", std::to_string(window), window)
        .add("bit_rate", "CAN bit rate", bitRateName(rate), bitRateName(rate))
        .add("error_code", "error code", errorCodeText(error, false), error)
        .jsonOnly("error_code_name", errorCodeName(error, false));
}

}  // namespace

void addInfoCommand(CLI::App& app, Registry& registry) {
    CLI::App* sub = app.add_subcommand("info", "Show a node's identity, versions, configuration and error codes");
    auto node = std::make_shared<unsigned>(0);
    addNodeArgument(sub, *node);
    sub->footer("Example:\n  kinetra info 1 --sim\n  kinetra info 4 --json");
    registry.push_back({sub, [node](Context& context) {
                            BusSession session(context.bus, *context.stop);
                            session.open();
                            const unsigned id = *node;
                            const unsigned type = session.waitForNode(id);
                            Report report;
                            report.add("node", "node", std::to_string(id), id)
                                .add("type", "device type", std::to_string(type), type)
                                .add("class", "class", className(classOfType(type)), className(classOfType(type)));
                            withProxy(session.bus(), id, type, [&](auto& proxy) {
                                const Identity identity = readIdentity(proxy, id);
                                report.add("hardware", "hardware", identity.hardware, identity.hardware)
                                    .add("firmware", "firmware", identity.firmware, identity.firmware)
                                    .add("commit", "commit", identity.commit, identity.commit);
                                describe(proxy, id, report);
                                return 0;
                            });
                            report.print(*context.out);
                            return kExitOk;
                        }});
}

}  // namespace kinetra::cli
