#pragma once
// The protocol of the IMU: command identifiers, request lengths, the fixed-point
// scales of its values and the reply routing table.

#include <kinetra/imu.h>

#include "devices/protocol/common_commands.h"
#include "devices/protocol/reply_layout.h"

#include <cstdint>
#include <string>

namespace kinetra::protocol::imu {

using namespace common;

constexpr uint8_t kGetRotationVectorData = 0x20;
constexpr uint8_t kGetRawAccelerometerData = 0x21;
constexpr uint8_t kGetRawGyroData = 0x22;
constexpr uint8_t kGetRawMagnetometerData = 0x23;
constexpr uint8_t kGetLinearAccelerometerData = 0x24;
constexpr uint8_t kGetAccelerometerData = 0x25;
constexpr uint8_t kGetGyroData = 0x26;
constexpr uint8_t kGetUncalibratedGyroData = 0x27;
constexpr uint8_t kGetUncalibratedGyroBiasData = 0x28;
constexpr uint8_t kGetMagnetometerData = 0x29;
constexpr uint8_t kGetEulerAngles = 0x2A;
constexpr uint8_t kGetGravityData = 0x2B;
constexpr uint8_t kGetCalibrationStatus = 0x2C;
constexpr uint8_t kGetRotationVectorAccuracy = 0x2D;
constexpr uint8_t kSetSensorReport = 0x3F;
constexpr uint8_t kSetOrientation = 0x40;
constexpr uint8_t kStartCalibration = 0x4F;
constexpr uint8_t kStopCalibration = 0x50;
constexpr uint8_t kSaveCalibration = 0x51;
constexpr uint8_t kClearDCD = 0x52;
constexpr uint8_t kTareYaw = 0x5F;
constexpr uint8_t kTareAll = 0x60;
constexpr uint8_t kClearTare = 0x61;

/// The sensor values travel as 16-bit fixed-point numbers in one of two scales;
/// the host converts them as (float)raw * scale in single precision.
constexpr float kCentiScale = 0.01f;   // bit pattern 0x3C23D70A
constexpr float kMilliScale = 0.001f;  // bit pattern 0x3A83126F

/// The scale of a sensor query's values (and of the orientation set point, which
/// shares the rotation vector's scale). 0 for commands that carry no fixed-point values.
constexpr float fixedPointScale(uint8_t command) {
    switch (command) {
        case kGetLinearAccelerometerData:
        case kGetAccelerometerData:
        case kGetGyroData:
        case kGetMagnetometerData:
        case kGetEulerAngles: return kCentiScale;
        case kGetRotationVectorData:
        case kGetRotationVectorAccuracy:
        case kGetUncalibratedGyroData:
        case kGetUncalibratedGyroBiasData:
        case kGetGravityData:
        case kSetOrientation: return kMilliScale;
        default: return 0.0f;
    }
}

using u8 = unsigned char;
using u16 = unsigned short;
using u32 = unsigned int;
using i16 = short;

inline constexpr Route kImuRouteList[] = {
    {kGetHardwareVersion, layoutOf<u8, u8, u8, u8>()},
    {kGetFirmwareVersion, layoutOf<u8, u8, u16>()},
    {kGetFirmwareCommit, layoutOf<std::string>()},
    {kGetNodeId, layoutOf<u32>()},
    {kGetRotationVectorData, layoutOf<i16, i16, i16, i16>()},
    {kGetRawAccelerometerData, layoutOf<i16, i16, i16>()},
    {kGetRawGyroData, layoutOf<i16, i16, i16>()},
    {kGetRawMagnetometerData, layoutOf<i16, i16, i16>()},
    {kGetUncalibratedGyroData, layoutOf<i16, i16, i16>()},
    {kGetUncalibratedGyroBiasData, layoutOf<i16, i16, i16>()},
    {kGetEulerAngles, layoutOf<i16, i16, i16>()},
    {kGetLinearAccelerometerData, layoutOf<i16, i16, i16, u8>()},
    {kGetAccelerometerData, layoutOf<i16, i16, i16, u8>()},
    {kGetGyroData, layoutOf<i16, i16, i16, u8>()},
    {kGetMagnetometerData, layoutOf<i16, i16, i16, u8>()},
    {kGetGravityData, layoutOf<i16, i16, i16, u8>()},
    {kGetCalibrationStatus, layoutOf<bool>()},
    {kGetRotationVectorAccuracy, layoutOf<i16, u8>()},
};

inline constexpr RouteTable kImuRoutes{kImuRouteList};

}  // namespace kinetra::protocol::imu

// The IMU's operations with their request shapes, which its table holds.
#include "devices/protocol/imu_operations.h"
