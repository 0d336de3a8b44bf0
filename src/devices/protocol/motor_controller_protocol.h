#pragma once
// The protocol of the motor controllers (Driver and Actuator): command
// identifiers and the reply routing tables. The two classes share identifiers but
// not every reply layout, so each keeps its own table.

#include "can/bus.h"
#include "devices/protocol/bootloader_protocol.h"
#include "devices/protocol/common_commands.h"
#include "devices/protocol/reply_layout.h"
#include "devices/protocol/sensor_chip.h"

#include <cstdint>

namespace kinetra::protocol::motor {

using namespace common;

// Motion and state commands.
constexpr uint8_t kSetCurrentPositionAs = 0x06;
constexpr uint8_t kSetDeviceToIdle = 0x07;
constexpr uint8_t kSetDeviceToActive = 0x08;
constexpr uint8_t kSetCurrentPositionToZero = 0x24;
constexpr uint8_t kRunEncoderIndexSearch = 0x36;
constexpr uint8_t kRunEncoderMatching = 0x37;
constexpr uint8_t kRunCalibrationSequence = 0x38;
constexpr uint8_t kRunEncoderCalibration = 0x39;
constexpr uint8_t kSetPositionControl = 0x61;
constexpr uint8_t kSetVelocityControl = 0x62;
constexpr uint8_t kSetTorqueControl = 0x63;
constexpr uint8_t kSetPositionControlWithFeedForward = 0x64;
constexpr uint8_t kSetVelocityControlWithFeedForward = 0x65;
constexpr uint8_t kSetTrapezoidalTrajectoryControl = 0x66;
constexpr uint8_t kSetScurveTrajectoryControl = 0x67;
constexpr uint8_t kSetTorqueRampControl = 0x68;
constexpr uint8_t kSetSensorlessVelocityControl = 0x69;
constexpr uint8_t kSetOpenLoopPositionControl = 0x6A;
constexpr uint8_t kSetOpenLoopVelocityControl = 0x6B;
constexpr uint8_t kClearErrors = 0x6F;
constexpr uint8_t kEmergencyStop = 0x7E;

// Configuration writes.
constexpr uint8_t kSetDCBusTripLevels = 0x0B;
constexpr uint8_t kSetBrakeResistor = 0x0D;
constexpr uint8_t kSetRegenCurrentTripLevel = 0x0F;
constexpr uint8_t kSetMotorParameters = 0x11;
constexpr uint8_t kSetMotorCalibrationParameters = 0x13;
constexpr uint8_t kConfigureMotorEncoder = 0x15;
constexpr uint8_t kSetGearBoxParameters = 0x17;
constexpr uint8_t kConfigureOutputEncoder = 0x19;
constexpr uint8_t kSetPositionControllerGain = 0x1B;
constexpr uint8_t kSetVelocityControllerGains = 0x1D;
constexpr uint8_t kSetCurrentControllerBandwidth = 0x1F;
constexpr uint8_t kSetMotorEncoderBandwidth = 0x22;
constexpr uint8_t kSetMotorThermistorParameters = 0x26;
constexpr uint8_t kSetMotorThermalLimit = 0x27;
constexpr uint8_t kSetCurrentFilter = 0x29;
constexpr uint8_t kSetEncoderDataFilter = 0x2B;
constexpr uint8_t kSetStartupConfigs = 0x2D;
constexpr uint8_t kSetMAxxxSPIRegister = 0x2F;
constexpr uint8_t kSetMotorPhaseParameters = 0x31;
constexpr uint8_t kSetMotorTorqueLimit = 0x32;
constexpr uint8_t kSetMotorType = 0x34;
constexpr uint8_t kSetCANBaudRate = 0x3A;

// Reads.
constexpr uint8_t kGetDCBusTripLevels = 0x0C;
constexpr uint8_t kGetBrakeResistorState = 0x0E;
constexpr uint8_t kGetRegenCurrentTripLevel = 0x10;
constexpr uint8_t kGetMotorParameters = 0x12;
constexpr uint8_t kGetMotorCalibrationParameters = 0x14;
constexpr uint8_t kGetMotorEncoderConfiguration = 0x16;
constexpr uint8_t kGetGearBoxParameters = 0x18;
constexpr uint8_t kGetOutputEncoderConfiguration = 0x1A;
constexpr uint8_t kGetPositionControllerGain = 0x1C;
constexpr uint8_t kGetVelocityControllerGains = 0x1E;
constexpr uint8_t kGetCurrentControllerBandwidth = 0x20;
constexpr uint8_t kGetCurrentControllerGains = 0x21;
constexpr uint8_t kGetMotorEncoderBandwidth = 0x23;
constexpr uint8_t kGetZeroPosition = 0x25;
constexpr uint8_t kGetMotorThermistorConfiguration = 0x28;
constexpr uint8_t kGetCurrentFilter = 0x2A;
constexpr uint8_t kGetEncoderDataFilter = 0x2C;
constexpr uint8_t kGetStartupConfigs = 0x2E;
constexpr uint8_t kGetMAxxxSPIRegister = 0x30;
constexpr uint8_t kGetMotorTorqueLimit = 0x33;
constexpr uint8_t kGetMotorType = 0x35;
constexpr uint8_t kGetCANBaudRate = 0x3B;
constexpr uint8_t kGetOutputPosition = 0x3C;
constexpr uint8_t kGetOutputVelocity = 0x3D;
constexpr uint8_t kGetOutputAcceleration = 0x3E;
constexpr uint8_t kGetOutputTorque = 0x3F;
constexpr uint8_t kGetMotorPosition = 0x40;
constexpr uint8_t kGetMotorVelocity = 0x41;
constexpr uint8_t kGetMotorAcceleration = 0x42;
constexpr uint8_t kGetMotorTorque = 0x43;
constexpr uint8_t kGetTemperatures = 0x44;     ///< motor, driver
constexpr uint8_t kGetPhaseCurrents = 0x45;    ///< phases b and c
constexpr uint8_t kGetBusVoltageCurrent = 0x46;  ///< voltage, current
constexpr uint8_t kGetIdqCurrents = 0x47;
constexpr uint8_t kGetBrakeCurrent = 0x48;
constexpr uint8_t kGetDCCalibPhaseCurrents = 0x49;
constexpr uint8_t kGetHallEncoderState = 0x4A;
constexpr uint8_t kGetHallEncoderStateCountsLow = 0x4B;
constexpr uint8_t kGetHallEncoderStateCountsHigh = 0x4C;
constexpr uint8_t kGetControllerState = 0x50;
constexpr uint8_t kGetMotorState = 0x51;
constexpr uint8_t kGetMotorEncoderState = 0x52;
constexpr uint8_t kGetOutputEncoderState = 0x53;
constexpr uint8_t kGetTrajectoryDoneStatus = 0x54;
constexpr uint8_t kGetMotorPhaseParameters = 0x55;
constexpr uint8_t kGetMotorEncoderRawData = 0x56;
constexpr uint8_t kGetOutputEncoderRawData = 0x57;
constexpr uint8_t kGetCANCommunicationStatus = 0x58;
constexpr uint8_t kGetControllerMode = 0x59;
constexpr uint8_t kGetDriverFault = 0x5F;
constexpr uint8_t kGetErrorCode = 0x60;
constexpr uint8_t kGetDebugErrorCode = 0x6E;

/// The debug error words are read one exchange each, indices 1 to this.
constexpr uint8_t kDebugErrorWords = 6;

/// The CAN bit rates in bit/s, indexed by the CANBaudRate selector.
inline constexpr uint32_t kCanBitRates[] = {10000, 20000, 50000, 100000, 125000, 250000, 500000, 750000, 1000000};
constexpr int kCanBitRateCount = static_cast<int>(sizeof kCanBitRates / sizeof kCanBitRates[0]);

/// The driver reports only the thermistor's upper temperature limit; the lower
/// one sits this far below it (8-bit arithmetic).
constexpr uint8_t kThermistorHysteresis = 10;

/// The driver's error codes: 0 to this, and kErrorCodeUnrecognised.
constexpr uint32_t kLastErrorCode = 40;
constexpr uint32_t kErrorCodeUnrecognised = 255;

// The sensor chips' encoder types and registers: protocol/sensor_chip.h.
using namespace sensor_chip;

using u8 = unsigned char;
using u16 = unsigned short;
using u32 = unsigned int;
using u64 = unsigned long long;

/// Replies both classes lay out the same way.
#define KINETRA_MOTOR_COMMON_ROUTES                                                           \
    {kGetHardwareVersion, layoutOf<u8, u8, u8, u8>()},                                        \
    {kGetFirmwareVersion, layoutOf<u8, u8, u16>()},                                           \
    {kGetFirmwareCommit, layoutOf<u8, u8, u8, u8, u8, u8, u8, u8>()},                         \
    {kGetNodeId, layoutOf<u32>()},                                                            \
    {kGetDriverFault, layoutOf<u32>()},                                                       \
    {kGetErrorCode, layoutOf<u32>()},                                                         \
    {kGetDCBusTripLevels, layoutOf<float, float>()},                                          \
    {kGetVelocityControllerGains, layoutOf<float, float>()},                                  \
    {kGetCurrentControllerGains, layoutOf<float, float>()},                                   \
    {kGetTemperatures, layoutOf<float, float>()},                                             \
    {kGetPhaseCurrents, layoutOf<float, float>()},                                            \
    {kGetBusVoltageCurrent, layoutOf<float, float>()},                                        \
    {kGetIdqCurrents, layoutOf<float, float>()},                                              \
    {kGetDCCalibPhaseCurrents, layoutOf<float, float>()},                                     \
    {kGetMotorPhaseParameters, layoutOf<float, float>()},                                     \
    {kGetRegenCurrentTripLevel, layoutOf<float>()},                                           \
    {kGetPositionControllerGain, layoutOf<float>()},                                          \
    {kGetCurrentControllerBandwidth, layoutOf<float>()},                                      \
    {kGetMotorEncoderBandwidth, layoutOf<float>()},                                           \
    {kGetZeroPosition, layoutOf<float>()},                                                    \
    {kGetCurrentFilter, layoutOf<float>()},                                                   \
    {kGetEncoderDataFilter, layoutOf<float>()},                                               \
    {kGetOutputPosition, layoutOf<float>()},                                                  \
    {kGetOutputVelocity, layoutOf<float>()},                                                  \
    {kGetOutputAcceleration, layoutOf<float>()},                                              \
    {kGetOutputTorque, layoutOf<float>()},                                                    \
    {kGetMotorPosition, layoutOf<float>()},                                                   \
    {kGetMotorVelocity, layoutOf<float>()},                                                   \
    {kGetMotorAcceleration, layoutOf<float>()},                                               \
    {kGetMotorTorque, layoutOf<float>()},                                                     \
    {kGetControllerState, layoutOf<u8>()},                                                    \
    {kGetMotorState, layoutOf<bool, bool>()},                                                 \
    {kGetOutputEncoderState, layoutOf<bool, bool>()},                                         \
    {kGetCANCommunicationStatus, layoutOf<bool, bool>()},                                     \
    {kGetTrajectoryDoneStatus, layoutOf<bool>()},                                             \
    {kGetMotorEncoderRawData, layoutOf<int>()},                                               \
    {kGetOutputEncoderRawData, layoutOf<int>()},                                              \
    {kGetControllerMode, layoutOf<u16>()},                                                    \
    {kGetDebugErrorCode, layoutOf<u64>()}

inline constexpr Route kActuatorRouteList[] = {
    KINETRA_MOTOR_COMMON_ROUTES,
    {kGetMotorThermistorConfiguration, layoutOf<u16, u16, u8, u8, bool>()},
    {kGetMotorEncoderState, layoutOf<bool, bool>()},
};

inline constexpr Route kDriverRouteList[] = {
    KINETRA_MOTOR_COMMON_ROUTES,
    {kGetBrakeResistorState, layoutOf<float, bool, bool, bool>()},
    {kGetMotorParameters, layoutOf<u8, u16, float>()},
    {kGetMotorCalibrationParameters, layoutOf<float, float>()},
    {kGetMotorEncoderConfiguration, layoutOf<u8, int, bool>()},
    {kGetGearBoxParameters, layoutOf<float>()},
    {kGetOutputEncoderConfiguration, layoutOf<u8, int, bool>()},
    {kGetMotorThermistorConfiguration, layoutOf<float, u16, u8, bool>()},
    {kGetStartupConfigs, layoutOf<bool, bool, bool>()},
    {kGetMAxxxSPIRegister, layoutOf<u8, bool>()},
    {kGetMotorTorqueLimit, layoutOf<float>()},
    {kGetMotorType, layoutOf<u8>()},
    {kGetCANBaudRate, layoutOf<u32>()},
    {kGetBrakeCurrent, layoutOf<float, float>()},
    {kGetHallEncoderState, layoutOf<u8>()},
    {kGetHallEncoderStateCountsLow, layoutOf<u16, u16, u16, u16>()},
    {kGetHallEncoderStateCountsHigh, layoutOf<u16, u16, u16, u16>()},
    {kGetMotorEncoderState, layoutOf<bool, bool, bool>()},
};

#undef KINETRA_MOTOR_COMMON_ROUTES

inline constexpr RouteTable kActuatorRoutes{kActuatorRouteList};
inline constexpr RouteTable kDriverRoutes{kDriverRouteList};

/// While a firmware update runs, replies are matched by the whole identifier word
/// of the bootloader's standard frames (see protocol/bootloader_protocol.h).
inline constexpr const auto& kFlashReplyIds = bootloader::kReplyIds;
inline constexpr uint32_t kFlashReadReplyId = bootloader::kReadReplyId;

}  // namespace kinetra::protocol::motor

// The operations of both classes with their frames, which their table holds.
#include "devices/protocol/motor_operations.h"
