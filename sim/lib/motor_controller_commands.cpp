// The simulated motor controllers' command set, written from the wire formats:
// what each command of the driver's and the actuator's protocol does to the
// firmware state, and the readings their queries carry. Configuration values
// live in the node's registers, so that saving, erasing and rebooting treat
// them alike; the motor follows them.

#include "kinetra_sim/motor_controller_node.h"
#include "can/bus.h"
#include "kinetra_sim/node_answer.h"
#include "kinetra_sim/payload_values.h"

#include "devices/protocol/motor_controller_protocol.h"
#include "devices/protocol/motor_operations.h"
#include "devices/protocol/payload.h"
#include "frame_arguments.h"

#include <cmath>
#include <iterator>
#include <tuple>

namespace kinetra::sim {
namespace {

namespace motor = protocol::motor;
using u8 = unsigned char;
using u16 = unsigned short;
using u32 = unsigned int;
using u64 = unsigned long long;

template <typename... T>
std::tuple<T...> valuesOf(uint64_t word) {
    return unpackWord<T...>(word);
}

// The actuator's motor and gearbox are built in, so it has no settings for them.
constexpr float kActuatorGearRatio = 9.0f;
constexpr float kActuatorTorqueLimit = 2.0f;
constexpr uint8_t kActuatorPolePairs = 14;
constexpr float kActuatorKv = 80.0f;
constexpr float kActuatorPhaseResistance = 0.08f;
constexpr float kActuatorPhaseInductance = 3e-5f;
constexpr float kActuatorSupply = 48.0f;
constexpr int32_t kActuatorEncoderCounts = 16384;

// Phase current offsets the DC calibration measures.
constexpr float kCalibrationOffsetB = 0.012f;
constexpr float kCalibrationOffsetC = -0.008f;

int32_t encoderCount(double turns, int32_t counts_per_turn) {
    const double counts = std::floor(turns * counts_per_turn);
    // The firmware's counter wraps; so does this one instead of overflowing.
    const double wrapped = std::fmod(counts, 4294967296.0);
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(wrapped)));
}

/// The bit rate in bit/s of a selector, 0 for one outside the table.
uint32_t selectorBitRate(CANBaudRate rate) {
    const int selector = static_cast<int>(rate);
    return selector >= 0 && selector < motor::kCanBitRateCount ? motor::kCanBitRates[selector] : 0;
}

}  // namespace

void MotorControllerNode::installCommandSet() {
    installSharedCommands();
    if (deviceType() == protocol::DeviceType::Driver) {
        installDriverCommands();
    } else {
        installActuatorCommands();
    }
    // A query of the class's operation table the model does not compute is
    // still answered, with zero values.
    const protocol::OperationTable& operations =
        deviceType() == protocol::DeviceType::Driver ? motor::kDriverOperations : motor::kActuatorOperations;
    for (const protocol::Operation* op : operations) {
        if (op->isQuery()) answerWithDefaults(op->command);
    }
    refreshMotorParameters();
}

void MotorControllerNode::onTick(std::chrono::nanoseconds elapsed) {
    refreshMotorParameters();
    firmware_.motor().advance(std::chrono::duration<double>(elapsed).count());
}

void MotorControllerNode::onReboot() {
    startAfterReboot();
    firmware_.restart();
    refreshMotorParameters();
    if (deviceType() == protocol::DeviceType::Driver) {
        const auto [index_search, matching, closed_loop] =
            valuesOf<bool, bool, bool>(registers().word(motor::kGetStartupConfigs));
        firmware_.setIndexFound(index_search);
        firmware_.setEncoderMatched(matching);
        if (closed_loop) firmware_.motor().activate();
    }
}

void MotorControllerNode::refreshMotorParameters() {
    MotorParameters parameters = firmware_.motor().parameters();
    parameters.position_gain = std::get<0>(valuesOf<float>(registers().word(motor::kGetPositionControllerGain)));
    if (deviceType() == protocol::DeviceType::Driver) {
        parameters.gear_ratio = std::get<0>(valuesOf<float>(registers().word(motor::kGetGearBoxParameters)));
        parameters.torque_limit = std::get<0>(valuesOf<float>(registers().word(motor::kGetMotorTorqueLimit)));
        const auto [pole_pairs, kv, current_limit] =
            valuesOf<u8, u16, float>(registers().word(motor::kGetMotorParameters));
        (void)current_limit;
        parameters.pole_pairs = pole_pairs;
        parameters.kv = kv;
        parameters.phase_resistance = std::get<0>(valuesOf<float>(registers().word(motor::kGetMotorPhaseParameters)));
    } else {
        parameters.gear_ratio = kActuatorGearRatio;
        parameters.torque_limit = kActuatorTorqueLimit;
        parameters.pole_pairs = kActuatorPolePairs;
        parameters.kv = kActuatorKv;
        parameters.phase_resistance = kActuatorPhaseResistance;
    }
    firmware_.motor().setParameters(parameters);
}

void MotorControllerNode::installSharedCommands() {
    // ---- Configuration both classes keep.
    bindRegister(motor::kGetDCBusTripLevels, motor::kSetDCBusTripLevels, packWord(8.0f, 56.0f));
    bindRegister(motor::kGetRegenCurrentTripLevel, motor::kSetRegenCurrentTripLevel, packWord(10.0f));
    bindRegister(motor::kGetPositionControllerGain, motor::kSetPositionControllerGain, packWord(20.0f));
    bindRegister(motor::kGetVelocityControllerGains, motor::kSetVelocityControllerGains, packWord(0.16f, 0.32f));
    bindRegister(motor::kGetCurrentControllerBandwidth, motor::kSetCurrentControllerBandwidth, packWord(1000.0f));
    bindRegister(motor::kGetMotorEncoderBandwidth, motor::kSetMotorEncoderBandwidth, packWord(1000.0f));
    bindRegister(motor::kGetCurrentFilter, motor::kSetCurrentFilter, packWord(0.1f));
    bindRegister(motor::kGetEncoderDataFilter, motor::kSetEncoderDataFilter, packWord(0.05f));

    // ---- Set points.
    onCommand(motor::kSetPositionControl, [this](const can_frame_data& frame) {
        const auto [position, b] = argumentsOf<float, short>(frame);
        (void)b;
        firmware_.motor().positionControl(position, 0.0f, ControlMode::Position);
    });
    // One command for both: a ramp of zero is plain velocity control.
    onCommand(motor::kSetVelocityControl, [this](const can_frame_data& frame) {
        const auto [velocity, ramp] = argumentsOf<float, float>(frame);
        firmware_.motor().velocityControl(velocity, ramp, 0.0f,
                                          ramp == 0.0f ? ControlMode::Velocity : ControlMode::VelocityRamp);
    });
    onCommand(motor::kSetTorqueControl, [this](const can_frame_data& frame) {
        const auto [torque, b] = argumentsOf<float, float>(frame);
        (void)b;
        firmware_.motor().torqueControl(torque, 0.0f, ControlMode::Torque);
    });
    onCommand(motor::kSetPositionControlWithFeedForward, [this](const can_frame_data& frame) {
        const auto [position, velocity_ff, torque_ff_hundredths] = argumentsOf<float, short, short>(frame);
        (void)velocity_ff;
        firmware_.motor().positionControl(position, torque_ff_hundredths * 0.01f, ControlMode::PositionFeedForward);
    });
    onCommand(motor::kSetVelocityControlWithFeedForward, [this](const can_frame_data& frame) {
        const auto [velocity, torque_ff] = argumentsOf<float, float>(frame);
        firmware_.motor().velocityControl(velocity, 0.0f, torque_ff, ControlMode::VelocityFeedForward);
    });
    // Trajectories: top speed in turns/s, acceleration and deceleration in tenths of turns/s².
    auto trajectory = [this](ControlMode mode) {
        return [this, mode](const can_frame_data& frame) {
            const auto [position, speed, acceleration, deceleration] = argumentsOf<float, short, u8, u8>(frame);
            firmware_.motor().trajectory(position, speed, acceleration * 0.1f, deceleration * 0.1f, mode);
        };
    };
    onCommand(motor::kSetTrapezoidalTrajectoryControl, trajectory(ControlMode::TrapezoidalTrajectory));
    onCommand(motor::kSetScurveTrajectoryControl, trajectory(ControlMode::ScurveTrajectory));

    // ---- State.
    onCommand(motor::kSetDeviceToIdle, [this](const can_frame_data&) { firmware_.motor().idle(); });
    onCommand(motor::kSetDeviceToActive, [this](const can_frame_data&) { firmware_.motor().activate(); });
    onCommand(motor::kEmergencyStop, [this](const can_frame_data&) {
        firmware_.motor().emergencyStop();
        firmware_.setErrorCode(MotorFirmware::kEmergencyStopError);
    });
    onCommand(motor::kClearErrors, [this](const can_frame_data&) { firmware_.clearErrors(); });
    onCommand(motor::kRunCalibrationSequence, [this](const can_frame_data&) {
        firmware_.motor().calibrate(MotorFirmware::kCalibrationSeconds);
        firmware_.setMotorCalibrated(true);
    });
    onCommand(motor::kSetCurrentPositionToZero, [this](const can_frame_data&) { firmware_.motor().setPosition(0.0f); });

    // ---- Readings.
    const MotorModel& m = firmware_.motor();
    answer(motor::kGetOutputPosition, [&m] { return m.outputPosition(); });
    answer(motor::kGetOutputVelocity, [&m] { return m.outputVelocity(); });
    answer(motor::kGetOutputAcceleration, [&m] { return m.outputAcceleration(); });
    answer(motor::kGetOutputTorque, [&m] { return m.outputTorque(); });
    answer(motor::kGetMotorPosition, [&m] { return m.position(); });
    answer(motor::kGetMotorVelocity, [&m] { return m.velocity(); });
    answer(motor::kGetMotorAcceleration, [&m] { return m.acceleration(); });
    answer(motor::kGetMotorTorque, [&m] { return m.torque(); });
    answer(motor::kGetZeroPosition, [&m] { return m.zeroPosition(); });
    answer(motor::kGetTemperatures, [&m] { return std::tuple{m.motorTemperature(), m.driverTemperature()}; });
    // The firmware measures phases b and c.
    answer(motor::kGetPhaseCurrents, [&m] {
        const auto currents = m.phaseCurrents();
        return std::tuple{currents[1], currents[2]};
    });
    answer(motor::kGetBusVoltageCurrent, [this] { return std::tuple{firmware_.busVoltage(), firmware_.busCurrent()}; });
    answer(motor::kGetIdqCurrents, [&m] { return std::tuple{0.0f, m.iq()}; });
    answer(motor::kGetDCCalibPhaseCurrents, [] { return std::tuple{kCalibrationOffsetB, kCalibrationOffsetC}; });
    answer(motor::kGetCurrentControllerGains, [this] {
        const auto [bandwidth] = valuesOf<float>(registers().word(motor::kGetCurrentControllerBandwidth));
        const auto [resistance, inductance] =
            deviceType() == protocol::DeviceType::Driver
                ? valuesOf<float, float>(registers().word(motor::kGetMotorPhaseParameters))
                : std::tuple{kActuatorPhaseResistance, kActuatorPhaseInductance};
        return std::tuple{inductance * bandwidth, resistance * bandwidth};
    });
    answer(motor::kGetControllerState, [&m] { return static_cast<u8>(m.state()); });
    answer(motor::kGetControllerMode, [&m] { return static_cast<u16>(m.mode()); });
    // Calibrated, and armed.
    answer(motor::kGetMotorState, [this, &m] {
        return std::tuple{firmware_.motorCalibrated(), m.state() == ControllerState::Active};
    });
    answer(motor::kGetTrajectoryDoneStatus, [&m] { return m.trajectoryDone(); });
    // The bus is fine, and the controller is not error-passive.
    answer(motor::kGetCANCommunicationStatus, [] { return std::tuple{true, false}; });
    answer(motor::kGetDriverFault, [this] { return static_cast<u32>(firmware_.driverFault()); });
    answer(motor::kGetErrorCode, [this] { return static_cast<u32>(firmware_.errorCode()); });
    answer(motor::kGetDebugErrorCode, [this](const can_frame_data& request) {
        return static_cast<u64>(firmware_.debugWord(std::get<0>(argumentsOf<u8>(request))));
    });
}

void MotorControllerNode::installDriverCommands() {
    const u32 bit_rate = selectorBitRate(setup().bit_rate);

    // ---- Configuration only the driver keeps.
    bindRegister(motor::kGetBrakeResistorState, motor::kSetBrakeResistor, packWord(2.0f, false));
    bindRegister(motor::kGetMotorParameters, motor::kSetMotorParameters, packWord(u8{7}, u16{100}, 10.0f));
    bindRegister(motor::kGetMotorCalibrationParameters, motor::kSetMotorCalibrationParameters, packWord(2.0f, 10.0f));
    bindRegister(motor::kGetGearBoxParameters, motor::kSetGearBoxParameters, packWord(1.0f));
    bindRegister(motor::kGetStartupConfigs, motor::kSetStartupConfigs, packWord(false, false, false));
    bindRegister(motor::kGetMotorPhaseParameters, motor::kSetMotorPhaseParameters, packWord(0.05f, 2e-5f));
    bindRegister(motor::kGetMotorTorqueLimit, motor::kSetMotorTorqueLimit, packWord(1.0f));
    bindRegister(motor::kGetMotorType, motor::kSetMotorType, packWord(u8{0}));
    bindRegister(motor::kGetMotorEncoderConfiguration, motor::kConfigureMotorEncoder,
                 packWord(motor::kEncoderTypeMA7xx, int32_t{16384}, false));
    // Disabling writes type 0, which is how the driver knows the output encoder is off.
    bindRegister(motor::kGetOutputEncoderConfiguration, motor::kConfigureOutputEncoder,
                 packWord(u8{0}, int32_t{0}, false));
    // The bit rate is a setting: it reads back at once and is saved with the rest.
    bindRegister(motor::kGetCANBaudRate, motor::kSetCANBaudRate, packWord(bit_rate));

    // The thermistor setting is written by two commands: its parameters, and
    // the limit with its switch.
    registers().define(motor::kGetMotorThermistorConfiguration, packWord(10000.0f, u16{3950}, u8{100}, false));
    answer(motor::kGetMotorThermistorConfiguration, [this] {
        return valuesOf<float, u16, u8, bool>(registers().word(motor::kGetMotorThermistorConfiguration));
    });
    onCommand(motor::kSetMotorThermistorParameters, [this](const can_frame_data& frame) {
        const auto [r_ref, beta] = argumentsOf<float, u16>(frame);
        auto [old_r, old_beta, upper, enabled] =
            valuesOf<float, u16, u8, bool>(registers().word(motor::kGetMotorThermistorConfiguration));
        (void)old_r, (void)old_beta;
        registers().setWord(motor::kGetMotorThermistorConfiguration, packWord(r_ref, beta, upper, enabled));
    });
    onCommand(motor::kSetMotorThermalLimit, [this](const can_frame_data& frame) {
        const auto [upper, enabled] = argumentsOf<u16, bool>(frame);
        auto [r_ref, beta, old_upper, old_enabled] =
            valuesOf<float, u16, u8, bool>(registers().word(motor::kGetMotorThermistorConfiguration));
        (void)old_upper, (void)old_enabled;
        // The driver keeps the limit in one byte.
        registers().setWord(motor::kGetMotorThermistorConfiguration,
                            packWord(r_ref, beta, static_cast<u8>(upper), enabled));
    });

    // The brake resistor's status flags: armed (enabled while the controller
    // runs) and saturated (never, in this model).
    answer(motor::kGetBrakeResistorState, [this] {
        const auto [resistance, enabled] = valuesOf<float, bool>(registers().word(motor::kGetBrakeResistorState));
        const bool armed = enabled && firmware_.motor().state() == ControllerState::Active;
        return std::tuple{resistance, enabled, armed, false};
    });
    // Braking power goes into the resistor when it is enabled: its current and voltage.
    answer(motor::kGetBrakeCurrent, [this] {
        const auto [resistance, enabled] = valuesOf<float, bool>(registers().word(motor::kGetBrakeResistorState));
        const float power = firmware_.motor().regeneratedPower();
        const float current = enabled && resistance > 0.0f ? std::sqrt(power / resistance) : 0.0f;
        return std::tuple{current, current * resistance};
    });

    // ---- Modes only the driver has.
    onCommand(motor::kSetTorqueRampControl, [this](const can_frame_data& frame) {
        const auto [torque, ramp_thousandths, c] = argumentsOf<float, short, short>(frame);
        (void)c;
        firmware_.motor().torqueControl(torque, ramp_thousandths * 0.001f, ControlMode::TorqueRamp);
    });
    onCommand(motor::kSetSensorlessVelocityControl, [this](const can_frame_data& frame) {
        const auto [velocity, b, c] = argumentsOf<float, short, short>(frame);
        (void)b, (void)c;
        firmware_.motor().velocityControl(velocity, 0.0f, 0.0f, ControlMode::SensorlessVelocity);
    });
    // Open loop: this model takes the first argument as the position or
    // velocity to reach and the second as the velocity ramp.
    onCommand(motor::kSetOpenLoopPositionControl, [this](const can_frame_data& frame) {
        const auto [position, b, c, d] = argumentsOf<short, short, short, short>(frame);
        (void)b, (void)c, (void)d;
        firmware_.motor().positionControl(position, 0.0f, ControlMode::OpenLoopPosition);
    });
    onCommand(motor::kSetOpenLoopVelocityControl, [this](const can_frame_data& frame) {
        const auto [velocity, ramp, c] = argumentsOf<short, short, short>(frame);
        (void)c;
        firmware_.motor().velocityControl(velocity, ramp, 0.0f, ControlMode::OpenLoopVelocity);
    });
    onCommand(motor::kSetCurrentPositionAs, [this](const can_frame_data& frame) {
        firmware_.motor().setPosition(std::get<0>(argumentsOf<float>(frame)));
    });
    onCommand(motor::kRunEncoderIndexSearch, [this](const can_frame_data&) {
        firmware_.motor().calibrate(MotorFirmware::kCalibrationSeconds);
        firmware_.setIndexFound(true);
    });
    onCommand(motor::kRunEncoderMatching, [this](const can_frame_data&) {
        firmware_.motor().calibrate(MotorFirmware::kCalibrationSeconds);
        firmware_.setEncoderMatched(true);
    });
    onCommand(motor::kRunEncoderCalibration, [this](const can_frame_data&) {
        firmware_.motor().calibrate(MotorFirmware::kCalibrationSeconds);
        firmware_.setMotorCalibrated(true);
    });

    // ---- Encoders and hall sensors.
    answer(motor::kGetMotorEncoderRawData, [this] {
        const auto [type, resolution, index] =
            valuesOf<u8, int32_t, bool>(registers().word(motor::kGetMotorEncoderConfiguration));
        (void)type, (void)index;
        return encoderCount(firmware_.motor().encoderPosition(), resolution);
    });
    answer(motor::kGetOutputEncoderRawData, [this] {
        const auto [type, resolution, index] =
            valuesOf<u8, int32_t, bool>(registers().word(motor::kGetOutputEncoderConfiguration));
        (void)index;
        if (type == 0) return int32_t{0};
        const MotorModel& m = firmware_.motor();
        return encoderCount(m.encoderPosition() / m.parameters().gear_ratio, resolution);
    });
    // Calibrated, index found, matched.
    answer(motor::kGetMotorEncoderState, [this] {
        return std::tuple{firmware_.motorCalibrated(), firmware_.indexFound(), firmware_.encoderMatched()};
    });
    // Enabled, and delivering data.
    answer(motor::kGetOutputEncoderState, [this] {
        const bool enabled = std::get<0>(valuesOf<u8>(registers().word(motor::kGetOutputEncoderConfiguration))) != 0;
        return std::tuple{enabled, enabled};
    });
    answer(motor::kGetHallEncoderState, [this] { return firmware_.motor().hallState(); });
    answer(motor::kGetHallEncoderStateCountsLow, [this] {
        const auto& c = firmware_.motor().hallCounts();
        return std::tuple{c[0], c[1], c[2], c[3]};
    });
    answer(motor::kGetHallEncoderStateCountsHigh, [this] {
        const auto& c = firmware_.motor().hallCounts();
        return std::tuple{c[4], c[5], c[6], c[7]};
    });

    // ---- Positions as the magnetic sensor chips measure them.
    const auto sensed = [this](bool output) {
        const uint8_t read = output ? motor::kGetOutputEncoderConfiguration : motor::kGetMotorEncoderConfiguration;
        return firmware_.sensedPosition(output, std::get<0>(valuesOf<u8>(registers().word(read))));
    };
    answer(motor::kGetMotorPosition, [sensed] { return sensed(false); });
    answer(motor::kGetOutputPosition, [sensed] { return sensed(true); });

    // ---- The sensor chips' registers, one file per selector. The flag reports
    // a completed SPI transfer, which the simulated link always is.
    onCommand(motor::kSetMAxxxSPIRegister, [this](const can_frame_data& frame) {
        const auto [output, reg, value] = argumentsOf<bool, u8, u8>(frame);
        firmware_.sensor(output).write(reg, value);
    });
    answer(motor::kGetMAxxxSPIRegister, [this](const can_frame_data& request) {
        const auto [output, reg] = argumentsOf<bool, u8>(request);
        return std::tuple{firmware_.sensor(output).read(reg), true};
    });
}

void MotorControllerNode::installActuatorCommands() {
    firmware_.setSupply(kActuatorSupply, 0.0f);
    // The actuator's thermal limit: the upper limit, the lower one it derives,
    // the motor and electronics temperatures in whole degrees, and the switch.
    registers().define(motor::kGetMotorThermistorConfiguration, packWord(u16{100}, u16{90}, u8{0}, u8{0}, false));
    answer(motor::kGetMotorThermistorConfiguration, [this] {
        const auto [upper, lower, motor_t, driver_t, enabled] =
            valuesOf<u16, u16, u8, u8, bool>(registers().word(motor::kGetMotorThermistorConfiguration));
        (void)motor_t, (void)driver_t;
        const MotorModel& m = firmware_.motor();
        return std::tuple{upper, lower, static_cast<u8>(std::lround(m.motorTemperature())),
                          static_cast<u8>(std::lround(m.driverTemperature())), enabled};
    });
    onCommand(motor::kSetMotorThermalLimit, [this](const can_frame_data& frame) {
        const auto [upper, enabled] = argumentsOf<u16, bool>(frame);
        registers().setWord(
            motor::kGetMotorThermistorConfiguration,
            packWord(upper, static_cast<u16>(upper - motor::kThermistorHysteresis), u8{0}, u8{0}, enabled));
    });
    answer(motor::kGetMotorPhaseParameters, [] {
        return std::tuple{kActuatorPhaseResistance, kActuatorPhaseInductance};
    });
    answer(motor::kGetMotorEncoderRawData,
           [this] { return encoderCount(firmware_.motor().encoderPosition(), kActuatorEncoderCounts); });
    answer(motor::kGetOutputEncoderRawData, [this] {
        return encoderCount(firmware_.motor().encoderPosition() / kActuatorGearRatio, kActuatorEncoderCounts);
    });
    // Calibrated, index found.
    answer(motor::kGetMotorEncoderState, [this] {
        return std::tuple{firmware_.motorCalibrated(), firmware_.indexFound()};
    });
    // The built-in output encoder is always there and delivering.
    answer(motor::kGetOutputEncoderState, [] { return std::tuple{true, true}; });
}

}  // namespace kinetra::sim
