#pragma once
// The operations of the motor controllers (Driver and Actuator), each once: its
// request frame, arguments, reply values and description. The lists at the end
// name every public operation with its C++ signature; the proxies' forwarding,
// the Python bindings and the tables below are expanded from them, so that an
// operation is added here, declared in the public headers, and tested.
//
// In the lists, T marks an operation the table carries out by itself (its frame
// from the arguments, or its reply into the out-parameters in reply order); M
// one whose implementation method adds something (a derived value, a reordered
// reply, several exchanges, a lookup), still described here.

#include "devices/protocol/motor_controller_protocol.h"
#include "devices/protocol/operation.h"

namespace kinetra::protocol::motor {


// Units of the values the controllers exchange.
inline constexpr const char kTurns[] = "turns";
inline constexpr const char kTurnsPerSecond[] = "turns/s";
inline constexpr const char kTurnsPerSecond2[] = "turns/s^2";
inline constexpr const char kNewtonMetres[] = "Nm";
inline constexpr const char kVolts[] = "V";
inline constexpr const char kAmperes[] = "A";
inline constexpr const char kOhms[] = "ohm";
inline constexpr const char kHenries[] = "H";
inline constexpr const char kDegreesC[] = "degC";
inline constexpr const char kCounts[] = "counts";

/// Operations Driver and Actuator share, with the same name, frame and reply.
namespace shared_ops {
using namespace fields;
using K = ValueKind;

// ---- Motion set points.
inline constexpr Operation setPositionControl = command(
    "setPositionControl", kSetPositionControl, FrameKind::Data, 8, {real("position", kTurns), s16("b", 1.0f)},
    "Position control to `position`; `b` travels as a 16-bit integer.");
inline constexpr Operation setVelocityControl =
    command("setVelocityControl", kSetVelocityControl, FrameKind::Data, 8,
            {real("velocity", kTurnsPerSecond), constant(K::F32, 0.0)},
            "Velocity control; the same frame as setVelocityRampControl(velocity, 0).");
inline constexpr Operation setVelocityRampControl =
    command("setVelocityRampControl", kSetVelocityControl, FrameKind::Data, 8,
            {real("velocity", kTurnsPerSecond), real("ramp", kTurnsPerSecond2)}, "Velocity control with a ramp.");
inline constexpr Operation setTorqueControl =
    command("setTorqueControl", kSetTorqueControl, FrameKind::Data, 8, {real("torque", kNewtonMetres), real("b")},
            "Torque control to `torque`; `b` travels as a float.");
inline constexpr Operation setPositionControlWithFeedForward =
    command("setPositionControlWithFeedForward", kSetPositionControlWithFeedForward, FrameKind::Data, 8,
            {real("position", kTurns), s16("b", 1.0f), s16("c", 0.01f)},
            "Position control with feed-forward terms: `b` as a 16-bit integer, `c` in hundredths.");
inline constexpr Operation setVelocityControlWithFeedForward =
    command("setVelocityControlWithFeedForward", kSetVelocityControlWithFeedForward, FrameKind::Data, 8,
            {real("velocity", kTurnsPerSecond), real("b")}, "Velocity control with a feed-forward term.");
inline constexpr Operation setTrapezoidalTrajectoryControl =
    command("setTrapezoidalTrajectoryControl", kSetTrapezoidalTrajectoryControl, FrameKind::Data, 8,
            {real("position", kTurns), s16("b", 1.0f), s8("c", 0.1f), s8("d", 0.1f)},
            "Trapezoidal trajectory to `position`: `b` as a 16-bit integer, `c` and `d` in tenths (8 bits).");
inline constexpr Operation setScurveTrajectoryControl =
    command("setScurveTrajectoryControl", kSetScurveTrajectoryControl, FrameKind::Data, 8,
            {real("position", kTurns), s16("b", 1.0f), s8("c", 0.1f), s8("d", 0.1f)},
            "S-curve trajectory to `position`, arguments as for the trapezoidal one.");

// ---- State changes and maintenance.
inline constexpr Operation setDeviceToIdle =
    command("setDeviceToIdle", kSetDeviceToIdle, FrameKind::Data, 0, {}, "Puts the device into idle.");
inline constexpr Operation setDeviceToActive = command("setDeviceToActive", kSetDeviceToActive, FrameKind::Data, 0,
                                                       {}, "Puts the device into its active (closed-loop) state.");
/// The one command without reply that goes out as a remote frame.
inline constexpr Operation emergencyStop = command("emergencyStop", kEmergencyStop, FrameKind::Remote, 8, {},
                                                   "Stops the motor at once (sent as a remote frame; no reply).");
inline constexpr Operation runCalibrationSequence = command(
    "runCalibrationSequence", kRunCalibrationSequence, FrameKind::Data, 0, {}, "Runs the motor calibration sequence.");
inline constexpr Operation saveConfigurations =
    command("saveConfigurations", kSaveConfigurations, FrameKind::Data, 0, {},
            "Makes the device store its current configuration permanently.");
inline constexpr Operation eraseConfigurations = command("eraseConfigurations", kEraseConfigurations,
                                                         FrameKind::Data, 0, {}, "Makes the device erase its stored configuration.");
inline constexpr Operation setNodeId =
    command("setNodeId", kSetNodeId, FrameKind::Data, 5, {word32("id")},
            "Tells the device its new node identifier; this proxy keeps addressing the old one.");
inline constexpr Operation getNodeId =
    query("getNodeId", kGetNodeId, {word32("id")}, "Reads the node identifier the device reports.");
inline constexpr Operation getHardwareVersion = query("getHardwareVersion", kGetHardwareVersion,
                                                      {byte("a"), byte("b"), byte("c"), byte("d")},
                                                      "Reads the four hardware version numbers.");
inline constexpr Operation getFirmwareVersion = query(
    "getFirmwareVersion", kGetFirmwareVersion, {byte("major"), byte("minor"), word16("patch")}, "Reads the firmware version.");
inline constexpr Operation getFirmwareCommit =
    query("getFirmwareCommit", kGetFirmwareCommit, {field("commit", K::Text)},
          "Reads the firmware commit: exactly seven characters as the device sends them.");

// ---- Configuration both classes offer.
inline constexpr Operation setDCBusTripLevels =
    command("setDCBusTripLevels", kSetDCBusTripLevels, FrameKind::Data, 8,
            {real("undervoltage", kVolts), real("overvoltage", kVolts)}, "Sets the DC bus under- and overvoltage trip levels.");
inline constexpr Operation getDCBusTripLevels =
    query("getDCBusTripLevels", kGetDCBusTripLevels, {real("undervoltage", kVolts), real("overvoltage", kVolts)},
          "Reads the DC bus under- and overvoltage trip levels.");
inline constexpr Operation setRegenCurrentTripLevel =
    command("setRegenCurrentTripLevel", kSetRegenCurrentTripLevel, FrameKind::Data, 4, {real("level", kAmperes)},
            "Sets the regenerative current trip level.");
inline constexpr Operation getRegenCurrentTripLevel = query(
    "getRegenCurrentTripLevel", kGetRegenCurrentTripLevel, {real("level", kAmperes)}, "Reads the regenerative current trip level.");
inline constexpr Operation setPositionControllerGain = command("setPositionControllerGain", kSetPositionControllerGain,
                                                               FrameKind::Data, 4, {real("gain")}, "Sets the position controller gain.");
inline constexpr Operation getPositionControllerGain =
    query("getPositionControllerGain", kGetPositionControllerGain, {real("gain")}, "Reads the position controller gain.");
inline constexpr Operation setVelocityControllerGains =
    command("setVelocityControllerGains", kSetVelocityControllerGains, FrameKind::Data, 8,
            {real("gain"), real("integrator_gain")}, "Sets the velocity controller gain and integrator gain.");
inline constexpr Operation getVelocityControllerGains =
    query("getVelocityControllerGains", kGetVelocityControllerGains, {real("gain"), real("integrator_gain")},
          "Reads the velocity controller gain and integrator gain.");
inline constexpr Operation setCurrentControllerBandwidth =
    command("setCurrentControllerBandwidth", kSetCurrentControllerBandwidth, FrameKind::Data, 8,
            {real("bandwidth", "rad/s")}, "Sets the current controller bandwidth.");
inline constexpr Operation getCurrentControllerBandwidth =
    query("getCurrentControllerBandwidth", kGetCurrentControllerBandwidth, {real("bandwidth", "rad/s")},
          "Reads the current controller bandwidth.");
inline constexpr Operation getCurrentControllerGains =
    query("getCurrentControllerGains", kGetCurrentControllerGains, {real("gain"), real("integrator_gain")},
          "Reads the current controller gain and integrator gain.");
inline constexpr Operation setMotorEncoderBandwidth =
    command("setMotorEncoderBandwidth", kSetMotorEncoderBandwidth, FrameKind::Data, 8, {real("bandwidth", "rad/s")},
            "Sets the motor encoder bandwidth.");
inline constexpr Operation getMotorEncoderBandwidth = query(
    "getMotorEncoderBandwidth", kGetMotorEncoderBandwidth, {real("bandwidth", "rad/s")}, "Reads the motor encoder bandwidth.");
inline constexpr Operation getZeroPosition =
    query("getZeroPosition", kGetZeroPosition, {real("position", kTurns)}, "Reads the zero position.");
inline constexpr Operation enableMotorThermalLimit =
    command("enableMotorThermalLimit", kSetMotorThermalLimit, FrameKind::Data, 5,
            {word16("upper_limit", kDegreesC), constant(K::Bool, 1)}, "Enables the motor thermal limit at `upper_limit`.");
inline constexpr Operation disableMotorThermalLimit = command("disableMotorThermalLimit", kSetMotorThermalLimit,
                                                              FrameKind::Data, 5, {}, "Disables the motor thermal limit.");
inline constexpr Operation setCurrentFilter =
    command("setCurrentFilter", kSetCurrentFilter, FrameKind::Data, 4, {real("filter")}, "Sets the current filter.");
inline constexpr Operation getCurrentFilter =
    query("getCurrentFilter", kGetCurrentFilter, {real("filter")}, "Reads the current filter.");
inline constexpr Operation setEncoderDataFilter = command("setEncoderDataFilter", kSetEncoderDataFilter,
                                                          FrameKind::Data, 4, {real("filter")}, "Sets the encoder data filter.");
inline constexpr Operation getEncoderDataFilter =
    query("getEncoderDataFilter", kGetEncoderDataFilter, {real("filter")}, "Reads the encoder data filter.");

// ---- Readings.
inline constexpr Operation getBusVoltage = query("getBusVoltage", kGetBusVoltageCurrent,
                                                 {real("voltage", kVolts), real("current", kAmperes)}, "Reads the DC bus voltage.");
inline constexpr Operation getBusCurrent = query("getBusCurrent", kGetBusVoltageCurrent,
                                                 {real("voltage", kVolts), real("current", kAmperes)}, "Reads the DC bus current.");
inline constexpr Operation getMotorTemperature =
    query("getMotorTemperature", kGetTemperatures, {real("motor", kDegreesC), real("driver", kDegreesC)},
          "Reads the motor temperature.");
inline constexpr Operation getDriverTemperature =
    query("getDriverTemperature", kGetTemperatures, {real("motor", kDegreesC), real("driver", kDegreesC)},
          "Reads the driver temperature.");
inline constexpr Operation getMotorPhaseCurrents = query("getMotorPhaseCurrents", kGetPhaseCurrents,
                                                         {real("b", kAmperes), real("c", kAmperes)},
                                                         "Reads the phase currents; `a` is computed as -(b + c).");
inline constexpr Operation getDCCalibPhaseCurrents =
    query("getDCCalibPhaseCurrents", kGetDCCalibPhaseCurrents, {real("b", kAmperes), real("c", kAmperes)},
          "Reads the phase currents measured during DC calibration; `a` is computed as -(b + c).");
inline constexpr Operation getIdqCurrents = query("getIdqCurrents", kGetIdqCurrents,
                                                  {real("d", kAmperes), real("q", kAmperes)}, "Reads the d- and q-axis currents.");
inline constexpr Operation getMotorPosition =
    query("getMotorPosition", kGetMotorPosition, {real("position", kTurns)}, "Reads the motor-side position.");
inline constexpr Operation getMotorVelocity =
    query("getMotorVelocity", kGetMotorVelocity, {real("velocity", kTurnsPerSecond)}, "Reads the motor-side velocity.");
inline constexpr Operation getMotorAcceleration = query("getMotorAcceleration", kGetMotorAcceleration,
                                                        {real("acceleration", kTurnsPerSecond2)}, "Reads the motor-side acceleration.");
inline constexpr Operation getMotorTorque =
    query("getMotorTorque", kGetMotorTorque, {real("torque", kNewtonMetres)}, "Reads the motor-side torque.");
inline constexpr Operation getOutputPosition =
    query("getOutputPosition", kGetOutputPosition, {real("position", kTurns)}, "Reads the output-side position.");
inline constexpr Operation getOutputVelocity = query("getOutputVelocity", kGetOutputVelocity,
                                                     {real("velocity", kTurnsPerSecond)}, "Reads the output-side velocity.");
inline constexpr Operation getOutputAcceleration = query("getOutputAcceleration", kGetOutputAcceleration,
                                                         {real("acceleration", kTurnsPerSecond2)}, "Reads the output-side acceleration.");
inline constexpr Operation getOutputTorque =
    query("getOutputTorque", kGetOutputTorque, {real("torque", kNewtonMetres)}, "Reads the output-side torque.");
inline constexpr Operation getMotorEncoderRawData = query("getMotorEncoderRawData", kGetMotorEncoderRawData,
                                                          {int32("raw", kCounts)}, "Reads the motor encoder's raw count.");
inline constexpr Operation getOutputEncoderRawData = query("getOutputEncoderRawData", kGetOutputEncoderRawData,
                                                           {int32("raw", kCounts)}, "Reads the output encoder's raw count.");
inline constexpr Operation getControllerState =
    query("getControllerState", kGetControllerState, {byte("state")}, "Reads the controller state.");
inline constexpr Operation getControllerMode =
    query("getControllerMode", kGetControllerMode, {word16("mode")}, "Reads the controller mode.");
inline constexpr Operation getMotorState =
    query("getMotorState", kGetMotorState, {flag("a"), flag("b")}, "Reads the two motor state flags.");
inline constexpr Operation getTrajectoryDoneStatus = query("getTrajectoryDoneStatus", kGetTrajectoryDoneStatus,
                                                           {flag("done")}, "Reads whether the trajectory is done.");
inline constexpr Operation getCANCommunicationStatus = query(
    "getCANCommunicationStatus", kGetCANCommunicationStatus, {flag("a"), flag("b")}, "Reads the two CAN communication flags.");
inline constexpr Operation getDriverFault =
    query("getDriverFault", kGetDriverFault, {word32("fault")}, "Reads the driver fault word.");
inline constexpr Operation getMotorPhaseParameters =
    query("getMotorPhaseParameters", kGetMotorPhaseParameters, {real("resistance", kOhms), real("inductance", kHenries)},
          "Reads the phase resistance and inductance.");
/// Six exchanges, one per word: request byte 0 is the word's index, 1 to 6.
inline constexpr Operation getDebugErrorCode = dataQuery("getDebugErrorCode", kGetDebugErrorCode, 8, {byte("index")},
                                                         {word64("word")}, "Reads the six debug error words, one exchange each; stops at the first that fails, leaving the later "
                                                         "words untouched.");
}  // namespace shared_ops

/// Operations only the driver offers, or that it answers its own way.
namespace driver_ops {
using namespace fields;
using K = ValueKind;

inline constexpr Operation setTorqueRampControl =
    command("setTorqueRampControl", kSetTorqueRampControl, FrameKind::Data, 8,
            {real("torque", kNewtonMetres), s16("b", 0.001f), s16("c", 1.0f)},
            "Torque ramp control: `b` in thousandths, `c` as a 16-bit integer.");
inline constexpr Operation setSensorlessVelocityControl =
    command("setSensorlessVelocityControl", kSetSensorlessVelocityControl, FrameKind::Data, 8,
            {real("velocity", kTurnsPerSecond), s16("b", 1.0f), s16("c", 0.1f)},
            "Sensorless velocity control: `b` as a 16-bit integer, `c` in tenths.");
inline constexpr Operation setOpenLoopPositionControl =
    command("setOpenLoopPositionControl", kSetOpenLoopPositionControl, FrameKind::Data, 8,
            {int16("a"), int16("b"), int16("c"), s16("d", 0.1f)},
            "Open-loop position control: `a`, `b`, `c` as given, `d` in tenths.");
inline constexpr Operation setOpenLoopVelocityControl =
    command("setOpenLoopVelocityControl", kSetOpenLoopVelocityControl, FrameKind::Data, 8,
            {int16("a"), int16("b"), s16("c", 0.1f)}, "Open-loop velocity control: `a`, `b` as given, `c` in tenths.");
inline constexpr Operation clearDriverErrors =
    command("clearDriverErrors", kClearErrors, FrameKind::Data, 0, {}, "Clears the driver's errors.");
inline constexpr Operation rebootDriver = command("rebootDriver", kReboot, FrameKind::Data, 0, {}, "Restarts the driver.");
inline constexpr Operation runEncoderIndexSearch = command("runEncoderIndexSearch", kRunEncoderIndexSearch,
                                                           FrameKind::Data, 0, {}, "Runs the encoder index search.");
inline constexpr Operation runEncoderMatching =
    command("runEncoderMatching", kRunEncoderMatching, FrameKind::Data, 0, {}, "Runs the encoder matching.");
inline constexpr Operation runEncoderCalibration = command("runEncoderCalibration", kRunEncoderCalibration,
                                                           FrameKind::Data, 0, {}, "Runs the encoder calibration.");
inline constexpr Operation setCurrentPositionToZero =
    command("setCurrentPositionToZero", kSetCurrentPositionToZero, FrameKind::Data, 8, {constant(K::U32, 0)},
            "Makes the current position the zero position.");
inline constexpr Operation setCurrentPositionAs =
    command("setCurrentPositionAs", kSetCurrentPositionAs, FrameKind::Data, 4, {real("position", kTurns)},
            "Makes the current position read as `position`.");
inline constexpr Operation enterDFUMode = command("enterDFUMode", kEnterDfuMode, FrameKind::Data, 0, {},
                                                  "Restarts the driver into its firmware-update bootloader.");
inline constexpr Operation getBrakeCurrent =
    query("getBrakeCurrent", kGetBrakeCurrent, {real("current", kAmperes)}, "Reads the brake resistor current.");
inline constexpr Operation getErrorCode =
    query("getErrorCode", kGetErrorCode, {word32("error")}, "Reads the error code; codes outside 0-40 and 255 read as DRIVER_ERROR_UNRECOGNISED.");
inline constexpr Operation enableBrakeResistor =
    command("enableBrakeResistor", kSetBrakeResistor, FrameKind::Data, 8,
            {real("resistance", kOhms), constant(K::Bool, 1)}, "Enables the brake resistor of `resistance`.");
inline constexpr Operation disableBrakeResistor =
    command("disableBrakeResistor", kSetBrakeResistor, FrameKind::Data, 5, {}, "Disables the brake resistor.");
inline constexpr Operation getBrakeResistorState =
    query("getBrakeResistorState", kGetBrakeResistorState,
          {real("resistance", kOhms), flag("enabled"), flag("c"), flag("d")}, "Reads the brake resistor's state.");
inline constexpr Operation setMotorParameters =
    command("setMotorParameters", kSetMotorParameters, FrameKind::Data, 8,
            {byte("pole_pairs"), word16("kv_rating", "rpm/V"), real("current_limit", kAmperes)},
            "Sets the pole pairs, kv rating and current limit.");
inline constexpr Operation getMotorParameters =
    query("getMotorParameters", kGetMotorParameters,
          {byte("pole_pairs"), word16("kv_rating", "rpm/V"), real("current_limit", kAmperes)},
          "Reads the pole pairs, kv rating and current limit.");
inline constexpr Operation setMotorCalibrationParameters =
    command("setMotorCalibrationParameters", kSetMotorCalibrationParameters, FrameKind::Data, 8,
            {real("voltage", kVolts), real("current", kAmperes)}, "Sets the calibration voltage and current.");
inline constexpr Operation getMotorCalibrationParameters =
    query("getMotorCalibrationParameters", kGetMotorCalibrationParameters,
          {real("voltage", kVolts), real("current", kAmperes)}, "Reads the calibration voltage and current.");
inline constexpr Operation setGearBoxParameters = command("setGearBoxParameters", kSetGearBoxParameters,
                                                          FrameKind::Data, 8, {real("ratio")}, "Sets the gear ratio.");
inline constexpr Operation getGearBoxParameters =
    query("getGearBoxParameters", kGetGearBoxParameters, {real("ratio")}, "Reads the gear ratio.");
inline constexpr Operation setMotorThermistorParameters =
    command("setMotorThermistorParameters", kSetMotorThermistorParameters, FrameKind::Data, 8,
            {real("r_ref", kOhms), word16("beta")}, "Sets the thermistor's reference resistance and beta.");
inline constexpr Operation getMotorThermistorConfiguration =
    query("getMotorThermistorConfiguration", kGetMotorThermistorConfiguration,
          {real("r_ref", kOhms), word16("beta"), byte("upper_limit", kDegreesC), flag("enabled")},
          "Reads the thermistor configuration; `lower_limit` is computed as upper_limit - 10 (8-bit).");
inline constexpr Operation setStartupConfigs =
    command("setStartupConfigs", kSetStartupConfigs, FrameKind::Data, 1,
            {flag("index_search"), flag("encoder_matching"), flag("closed_loop")}, "Sets what the driver does at start-up.");
inline constexpr Operation getStartupConfigs =
    query("getStartupConfigs", kGetStartupConfigs, {flag("index_search"), flag("encoder_matching"), flag("closed_loop")},
          "Reads what the driver does at start-up.");
inline constexpr Operation setMotorPhaseParameters =
    command("setMotorPhaseParameters", kSetMotorPhaseParameters, FrameKind::Data, 8,
            {real("resistance", kOhms), real("inductance", kHenries)}, "Sets the phase resistance and inductance.");
inline constexpr Operation setMotorTorqueLimit = command("setMotorTorqueLimit", kSetMotorTorqueLimit, FrameKind::Data,
                                                         4, {real("limit", kNewtonMetres)}, "Sets the motor torque limit.");
inline constexpr Operation getMotorTorqueLimit =
    query("getMotorTorqueLimit", kGetMotorTorqueLimit, {real("limit", kNewtonMetres)}, "Reads the motor torque limit.");
inline constexpr Operation setMotorType =
    command("setMotorType", kSetMotorType, FrameKind::Data, 1, {byte("type")}, "Sets the motor type.");
inline constexpr Operation getMotorType = query("getMotorType", kGetMotorType, {byte("type")}, "Reads the motor type.");
/// The selector is sent as the bit rate it stands for.
inline constexpr Operation setCANBaudRate =
    command("setCANBaudRate", kSetCANBaudRate, FrameKind::Data, 4, {ranged("rate", K::U32, 0, kCanBitRateCount - 1)},
            "Sets the device's CAN bit rate; a selector outside 0-8 gives RET_INVALID_ARGUMENT and sends nothing.");
inline constexpr Operation getCANBaudRate =
    query("getCANBaudRate", kGetCANBaudRate, {word32("bit_rate", "bit/s")},
          "Reads the device's CAN bit rate as a CANBaudRate selector (-1 when not in the table).");
inline constexpr Operation configureMotorEncoder =
    command("configureMotorEncoder", kConfigureMotorEncoder, FrameKind::Data, 8,
            {byte("type"), int32("resolution", kCounts), flag("use_index")}, "Configures the motor encoder.");
inline constexpr Operation getMotorEncoderConfiguration =
    query("getMotorEncoderConfiguration", kGetMotorEncoderConfiguration,
          {byte("type"), int32("resolution", kCounts), flag("use_index")}, "Reads the motor encoder's configuration.");
inline constexpr Operation configureOutputEncoder =
    command("configureOutputEncoder", kConfigureOutputEncoder, FrameKind::Data, 8,
            {byte("type"), int32("resolution", kCounts), flag("use_index"), constant(K::Bool, 1)},
            "Configures the output encoder and enables it.");
inline constexpr Operation disableOutputEncoder =
    command("disableOutputEncoder", kConfigureOutputEncoder, FrameKind::Data, 8, {}, "Disables the output encoder.");
inline constexpr Operation getOutputEncoderConfiguration =
    query("getOutputEncoderConfiguration", kGetOutputEncoderConfiguration,
          {byte("type"), int32("resolution", kCounts), flag("use_index")}, "Reads the output encoder's configuration.");
inline constexpr Operation getMotorEncoderState = query("getMotorEncoderState", kGetMotorEncoderState,
                                                        {flag("a"), flag("b"), flag("c")}, "Reads the three motor encoder state flags.");
inline constexpr Operation getOutputEncoderState = query("getOutputEncoderState", kGetOutputEncoderState,
                                                         {flag("a"), flag("b")}, "Reads the two output encoder state flags.");
inline constexpr Operation getHallEncoderState =
    query("getHallEncoderState", kGetHallEncoderState, {byte("state")}, "Reads the hall sensor state.");
/// Two exchanges: this one for counts 1 to 4, then kGetHallEncoderStateCountsHigh for 5 to 8.
inline constexpr Operation getHallEncoderStateCounts =
    query("getHallEncoderStateCounts", kGetHallEncoderStateCountsLow, {word16("c1"), word16("c2"), word16("c3"), word16("c4")},
          "Reads the eight hall state counts in two exchanges. RET_OK only when both answered; after a "
          "time-out of the first the second is still made.");

// ---- Registers of the magnetic angle sensor chip; `output` selects the output
// encoder's chip, else the motor encoder's.
inline constexpr Operation getMAxxxSPIRegister =
    dataQuery("getMAxxxSPIRegister", kGetMAxxxSPIRegister, 2, {flag("output"), byte("reg")}, {byte("value"), flag("flag")},
              "Reads register `reg` of the sensor chip.");
inline constexpr Operation setMAxxxSPIRegister =
    command("setMAxxxSPIRegister", kSetMAxxxSPIRegister, FrameKind::Data, 3, {flag("output"), byte("reg"), byte("value")},
            "Writes register `reg` of the sensor chip; not confirmed.");
inline constexpr Operation getMAxxxBCTValue =
    dataQuery("getMAxxxBCTValue", kGetMAxxxSPIRegister, 2, {flag("output"), constant(K::U8, kMAxxxRegBiasCurrentTrimming)},
              {byte("value"), flag("flag")}, "Reads the sensor chip's bias current trimming.");
inline constexpr Operation setMAxxxBCTValue = command(
    "setMAxxxBCTValue", kSetMAxxxSPIRegister, FrameKind::Data, 3,
    {flag("output"), constant(K::U8, kMAxxxRegBiasCurrentTrimming), byte("value")}, "Writes the sensor chip's bias current trimming.");
inline constexpr Operation getMAxxxFilterWindow =
    dataQuery("getMAxxxFilterWindow", kGetMAxxxSPIRegister, 2, {flag("output"), constant(K::U8, kMAxxxRegFilterWindow)},
              {byte("value"), flag("flag")}, "Reads the sensor chip's filter window.");
inline constexpr Operation setMAxxxFilterWindow =
    command("setMAxxxFilterWindow", kSetMAxxxSPIRegister, FrameKind::Data, 3,
            {flag("output"), constant(K::U8, kMAxxxRegFilterWindow), byte("value")}, "Writes the sensor chip's filter window.");
/// The register's bits 0 and 1 are the two settings.
inline constexpr Operation getMAxxxTrimmingSettings =
    dataQuery("getMAxxxTrimmingSettings", kGetMAxxxSPIRegister, 2,
              {flag("output"), constant(K::U8, kMAxxxRegTrimmingSettings)}, {byte("value"), flag("flag")},
              "Reads the sensor chip's two trimming settings.");
/// The two settings are bits 0 and 1 of the register value byte.
inline constexpr Operation setMAxxxTrimmingSettings =
    command("setMAxxxTrimmingSettings", kSetMAxxxSPIRegister, FrameKind::Data, 3,
            {flag("output"), constant(K::U8, kMAxxxRegTrimmingSettings), flag("first"), flag("second")},
            "Writes the sensor chip's two trimming settings.");
}  // namespace driver_ops

/// Operations only the actuator offers, or that it answers its own way.
namespace actuator_ops {
using namespace fields;
using K = ValueKind;

inline constexpr Operation clearActuatorErrors =
    command("clearActuatorErrors", kClearErrors, FrameKind::Data, 0, {}, "Clears the actuator's errors.");
inline constexpr Operation rebootActuator =
    command("rebootActuator", kReboot, FrameKind::Data, 0, {}, "Restarts the actuator.");
/// The public name keeps its historical spelling.
inline constexpr Operation setCurrentPostionToZero =
    command("setCurrentPostionToZero", kSetCurrentPositionToZero, FrameKind::Data, 8, {constant(K::U32, 0)},
            "Makes the current position the zero position.");
inline constexpr Operation getErrorCode = query("getErrorCode", kGetErrorCode, {word32("error")},
                                                "Reads the error code as the actuator sends it.");
inline constexpr Operation getMotorThermistorConfiguration =
    query("getMotorThermistorConfiguration", kGetMotorThermistorConfiguration,
          {word16("b"), word16("c"), byte("d"), byte("e"), flag("enabled")}, "Reads the thermistor configuration.");
inline constexpr Operation getMotorEncoderState = query("getMotorEncoderState", kGetMotorEncoderState,
                                                        {flag("a"), flag("b")}, "Reads the two motor encoder state flags.");
inline constexpr Operation getOutputEncoderState =
    query("getOutputEncoderState", kGetOutputEncoderState, {flag("a"), flag("b")},
          "Reads the output encoder state (the reply's second flag).");
}  // namespace actuator_ops

// ---- The public operations with their C++ signatures: T(ctx, name, (params),
// (args)), M(ctx, name, (params), (args)), where `ctx` is what the user of a
// list passes through (see operation.h's KINETRA_CTX_*); see the file comment.

#define KINETRA_MOTOR_SHARED_OPERATIONS(T, M, ctx)                                                                   \
    T(ctx, setPositionControl, (float position, float b), (position, b))                                            \
    T(ctx, setVelocityControl, (float velocity), (velocity))                                                        \
    T(ctx, setVelocityRampControl, (float velocity, float ramp), (velocity, ramp))                                  \
    T(ctx, setTorqueControl, (float torque, float b), (torque, b))                                                  \
    T(ctx, setPositionControlWithFeedForward, (float position, float b, float c), (position, b, c))                 \
    T(ctx, setVelocityControlWithFeedForward, (float velocity, float b), (velocity, b))                             \
    T(ctx, setTrapezoidalTrajectoryControl, (float position, float b, float c, float d), (position, b, c, d))       \
    T(ctx, setScurveTrajectoryControl, (float position, float b, float c, float d), (position, b, c, d))            \
    T(ctx, setDeviceToIdle, (), ())                                                                                 \
    T(ctx, setDeviceToActive, (), ())                                                                               \
    M(ctx, emergencyStop, (), ())                                                                                   \
    T(ctx, runCalibrationSequence, (), ())                                                                          \
    T(ctx, saveConfigurations, (), ())                                                                              \
    T(ctx, eraseConfigurations, (), ())                                                                             \
    T(ctx, getNodeId, (unsigned int* id), (id))                                                                     \
    T(ctx, setNodeId, (unsigned int id), (id))                                                                      \
    T(ctx, getHardwareVersion, (unsigned char* a, unsigned char* b, unsigned char* c, unsigned char* d),            \
      (a, b, c, d))                                                                                            \
    T(ctx, getFirmwareVersion, (unsigned char* major, unsigned char* minor, unsigned short* patch),                 \
      (major, minor, patch))                                                                                   \
    M(ctx, getFirmwareCommit, (std::string * commit), (commit))                                                     \
    T(ctx, getBusVoltage, (float* voltage), (voltage))                                                              \
    M(ctx, getBusCurrent, (float* current), (current))                                                              \
    T(ctx, getMotorTemperature, (float* temperature), (temperature))                                                \
    M(ctx, getDriverTemperature, (float* temperature), (temperature))                                               \
    M(ctx, getMotorPhaseCurrents, (float* a, float* b, float* c), (a, b, c))                                        \
    M(ctx, getDCCalibPhaseCurrents, (float* a, float* b, float* c), (a, b, c))                                      \
    T(ctx, getIdqCurrents, (float* d, float* q), (d, q))                                                            \
    T(ctx, getMotorPosition, (float* position), (position))                                                         \
    T(ctx, getMotorVelocity, (float* velocity), (velocity))                                                         \
    T(ctx, getMotorAcceleration, (float* acceleration), (acceleration))                                             \
    T(ctx, getMotorTorque, (float* torque), (torque))                                                               \
    T(ctx, getOutputPosition, (float* position), (position))                                                        \
    T(ctx, getOutputVelocity, (float* velocity), (velocity))                                                        \
    T(ctx, getOutputAcceleration, (float* acceleration), (acceleration))                                            \
    T(ctx, getOutputTorque, (float* torque), (torque))                                                              \
    T(ctx, getMotorEncoderRawData, (int* raw), (raw))                                                               \
    T(ctx, getOutputEncoderRawData, (int* raw), (raw))                                                              \
    T(ctx, getControllerState, (unsigned char* state), (state))                                                     \
    T(ctx, getControllerMode, (unsigned short* mode), (mode))                                                       \
    T(ctx, getMotorState, (bool* a, bool* b), (a, b))                                                               \
    T(ctx, getTrajectoryDoneStatus, (bool* done), (done))                                                           \
    T(ctx, getCANCommunicationStatus, (bool* a, bool* b), (a, b))                                                   \
    T(ctx, getDriverFault, (unsigned int* fault), (fault))                                                          \
    M(ctx, getDebugErrorCode,                                                                                       \
      (unsigned long long* e1, unsigned long long* e2, unsigned long long* e3, unsigned long long* e4,         \
       unsigned long long* e5, unsigned long long* e6),                                                        \
      (e1, e2, e3, e4, e5, e6))                                                                                \
    T(ctx, setDCBusTripLevels, (float undervoltage, float overvoltage), (undervoltage, overvoltage))                \
    T(ctx, getDCBusTripLevels, (float* undervoltage, float* overvoltage), (undervoltage, overvoltage))              \
    T(ctx, setRegenCurrentTripLevel, (float level), (level))                                                        \
    T(ctx, getRegenCurrentTripLevel, (float* level), (level))                                                       \
    T(ctx, setPositionControllerGain, (float gain), (gain))                                                         \
    T(ctx, getPositionControllerGain, (float* gain), (gain))                                                        \
    T(ctx, setVelocityControllerGains, (float gain, float integrator_gain), (gain, integrator_gain))                \
    T(ctx, getVelocityControllerGains, (float* gain, float* integrator_gain), (gain, integrator_gain))              \
    T(ctx, setCurrentControllerBandwidth, (float bandwidth), (bandwidth))                                           \
    T(ctx, getCurrentControllerBandwidth, (float* bandwidth), (bandwidth))                                          \
    T(ctx, getCurrentControllerGains, (float* gain, float* integrator_gain), (gain, integrator_gain))               \
    T(ctx, setMotorEncoderBandwidth, (float bandwidth), (bandwidth))                                                \
    T(ctx, getMotorEncoderBandwidth, (float* bandwidth), (bandwidth))                                               \
    T(ctx, getZeroPosition, (float* position), (position))                                                          \
    T(ctx, enableMotorThermalLimit, (unsigned short upper_limit), (upper_limit))                                    \
    T(ctx, disableMotorThermalLimit, (), ())                                                                        \
    T(ctx, setCurrentFilter, (float filter), (filter))                                                              \
    T(ctx, getCurrentFilter, (float* filter), (filter))                                                             \
    T(ctx, setEncoderDataFilter, (float filter), (filter))                                                          \
    T(ctx, getEncoderDataFilter, (float* filter), (filter))                                                         \
    T(ctx, getMotorPhaseParameters, (float* resistance, float* inductance), (resistance, inductance))

#define KINETRA_DRIVER_OPERATIONS(T, M, ctx)                                                                        \
    T(ctx, setTorqueRampControl, (float torque, float b, float c), (torque, b, c))                                  \
    T(ctx, setSensorlessVelocityControl, (float velocity, float b, float c), (velocity, b, c))                      \
    T(ctx, setOpenLoopPositionControl, (short a, short b, short c, float d), (a, b, c, d))                          \
    T(ctx, setOpenLoopVelocityControl, (short a, short b, float c), (a, b, c))                                      \
    T(ctx, clearDriverErrors, (), ())                                                                               \
    T(ctx, rebootDriver, (), ())                                                                                    \
    T(ctx, runEncoderIndexSearch, (), ())                                                                           \
    T(ctx, runEncoderMatching, (), ())                                                                              \
    T(ctx, runEncoderCalibration, (), ())                                                                           \
    T(ctx, setCurrentPositionToZero, (), ())                                                                        \
    T(ctx, setCurrentPositionAs, (float position), (position))                                                      \
    T(ctx, enterDFUMode, (), ())                                                                                    \
    T(ctx, getBrakeCurrent, (float* current), (current))                                                            \
    M(ctx, getErrorCode, (driver_error_t * error), (error))                                                         \
    T(ctx, enableBrakeResistor, (float resistance), (resistance))                                                   \
    T(ctx, disableBrakeResistor, (), ())                                                                            \
    M(ctx, getBrakeResistorState, (bool* enabled, float* resistance, bool* c, bool* d), (enabled, resistance, c, d)) \
    T(ctx, setMotorParameters, (unsigned char pole_pairs, unsigned short kv_rating, float current_limit),           \
      (pole_pairs, kv_rating, current_limit))                                                                  \
    T(ctx, getMotorParameters, (unsigned char* pole_pairs, unsigned short* kv_rating, float* current_limit),        \
      (pole_pairs, kv_rating, current_limit))                                                                  \
    T(ctx, setMotorCalibrationParameters, (float voltage, float current), (voltage, current))                       \
    T(ctx, getMotorCalibrationParameters, (float* voltage, float* current), (voltage, current))                     \
    T(ctx, setGearBoxParameters, (float ratio), (ratio))                                                            \
    T(ctx, getGearBoxParameters, (float* ratio), (ratio))                                                           \
    T(ctx, setMotorThermistorParameters, (float r_ref, unsigned short beta), (r_ref, beta))                         \
    M(ctx, getMotorThermistorConfiguration,                                                                         \
      (bool* enabled, float* r_ref, unsigned short* beta, unsigned char* upper_limit, unsigned char* lower_limit), \
      (enabled, r_ref, beta, upper_limit, lower_limit))                                                        \
    T(ctx, setStartupConfigs, (bool index_search, bool encoder_matching, bool closed_loop),                         \
      (index_search, encoder_matching, closed_loop))                                                           \
    T(ctx, getStartupConfigs, (bool* index_search, bool* encoder_matching, bool* closed_loop),                      \
      (index_search, encoder_matching, closed_loop))                                                           \
    T(ctx, setMotorPhaseParameters, (float resistance, float inductance), (resistance, inductance))                 \
    T(ctx, setMotorTorqueLimit, (float limit), (limit))                                                             \
    T(ctx, getMotorTorqueLimit, (float* limit), (limit))                                                            \
    T(ctx, setMotorType, (unsigned char type), (type))                                                              \
    T(ctx, getMotorType, (unsigned char* type), (type))                                                             \
    M(ctx, setCANBaudRate, (CANBaudRate rate), (rate))                                                              \
    M(ctx, getCANBaudRate, (CANBaudRate * rate), (rate))                                                            \
    T(ctx, configureMotorEncoder, (unsigned char type, int resolution, bool use_index), (type, resolution, use_index)) \
    T(ctx, getMotorEncoderConfiguration, (unsigned char* type, int* resolution, bool* use_index),                   \
      (type, resolution, use_index))                                                                           \
    T(ctx, configureOutputEncoder, (unsigned char type, int resolution, bool use_index), (type, resolution, use_index)) \
    T(ctx, disableOutputEncoder, (), ())                                                                            \
    T(ctx, getOutputEncoderConfiguration, (unsigned char* type, int* resolution, bool* use_index),                  \
      (type, resolution, use_index))                                                                           \
    T(ctx, getMotorEncoderState, (bool* a, bool* b, bool* c), (a, b, c))                                            \
    T(ctx, getOutputEncoderState, (bool* a, bool* b), (a, b))                                                       \
    T(ctx, getHallEncoderState, (unsigned char* state), (state))                                                    \
    M(ctx, getHallEncoderStateCounts,                                                                               \
      (unsigned short* c1, unsigned short* c2, unsigned short* c3, unsigned short* c4, unsigned short* c5,     \
       unsigned short* c6, unsigned short* c7, unsigned short* c8),                                            \
      (c1, c2, c3, c4, c5, c6, c7, c8))                                                                        \
    T(ctx, getMAxxxSPIRegister, (bool output, unsigned char reg, unsigned char* value, bool* flag),                 \
      (output, reg, value, flag))                                                                              \
    T(ctx, setMAxxxSPIRegister, (bool output, unsigned char reg, unsigned char value), (output, reg, value))        \
    T(ctx, getMAxxxBCTValue, (bool output, unsigned char* value, bool* flag), (output, value, flag))                \
    T(ctx, setMAxxxBCTValue, (bool output, unsigned char value), (output, value))                                   \
    T(ctx, getMAxxxFilterWindow, (bool output, unsigned char* value, bool* flag), (output, value, flag))            \
    T(ctx, setMAxxxFilterWindow, (bool output, unsigned char value), (output, value))                               \
    M(ctx, getMAxxxTrimmingSettings, (bool output, bool* first, bool* second, bool* flag), (output, first, second, flag)) \
    T(ctx, setMAxxxTrimmingSettings, (bool output, bool first, bool second), (output, first, second))

#define KINETRA_ACTUATOR_OPERATIONS(T, M, ctx)                                                                      \
    T(ctx, clearActuatorErrors, (), ())                                                                             \
    T(ctx, rebootActuator, (), ())                                                                                  \
    T(ctx, setCurrentPostionToZero, (), ())                                                                         \
    T(ctx, getErrorCode, (unsigned int* error), (error))                                                            \
    M(ctx, getMotorThermistorConfiguration,                                                                         \
      (bool* enabled, unsigned short* b, unsigned short* c, unsigned char* d, unsigned char* e),               \
      (enabled, b, c, d, e))                                                                                   \
    T(ctx, getMotorEncoderState, (bool* a, bool* b), (a, b))                                                        \
    M(ctx, getOutputEncoderState, (bool* b), (b))

namespace detail {
#define KINETRA_OPERATION_ENTRY(entries, name, params, args) &entries::name,
inline constexpr const Operation* kDriverOperationList[] = {
    KINETRA_MOTOR_SHARED_OPERATIONS(KINETRA_OPERATION_ENTRY, KINETRA_OPERATION_ENTRY, shared_ops)
        KINETRA_DRIVER_OPERATIONS(KINETRA_OPERATION_ENTRY, KINETRA_OPERATION_ENTRY, driver_ops)};
inline constexpr const Operation* kActuatorOperationList[] = {
    KINETRA_MOTOR_SHARED_OPERATIONS(KINETRA_OPERATION_ENTRY, KINETRA_OPERATION_ENTRY, shared_ops)
        KINETRA_ACTUATOR_OPERATIONS(KINETRA_OPERATION_ENTRY, KINETRA_OPERATION_ENTRY, actuator_ops)};
#undef KINETRA_OPERATION_ENTRY
}  // namespace detail

/// Every operation of each class, the shared ones first.
inline constexpr OperationTable kDriverOperations = tableOf(detail::kDriverOperationList);
inline constexpr OperationTable kActuatorOperations = tableOf(detail::kActuatorOperationList);

/// How an operation's request goes on the bus, for code that builds the frame
/// itself (the control cycle): taken from the operation's entry.
struct CommandFrame {
    uint8_t id;
    FrameKind kind;
    uint8_t dlc;
};
constexpr CommandFrame frameOf(const Operation& op) { return CommandFrame{op.command, op.frame, op.dlc}; }

inline constexpr CommandFrame kPositionControlFrame = frameOf(shared_ops::setPositionControl);
inline constexpr CommandFrame kVelocityControlFrame = frameOf(shared_ops::setVelocityControl);
inline constexpr CommandFrame kTorqueControlFrame = frameOf(shared_ops::setTorqueControl);
inline constexpr CommandFrame kIdleFrame = frameOf(shared_ops::setDeviceToIdle);
inline constexpr CommandFrame kActiveFrame = frameOf(shared_ops::setDeviceToActive);

}  // namespace kinetra::protocol::motor
