#pragma once
// The protocol of the Vorlex magnetic encoder: command identifiers, request
// lengths and the reply routing table. Its values travel as single-precision
// floats, so there is no scaling on either side.

#include "devices/protocol/common_commands.h"
#include "devices/protocol/reply_layout.h"

#include <cstdint>
#include <string>

namespace kinetra::protocol::vorlex {

using namespace common;

constexpr uint8_t kConfigureEncoder = 0x0B;
constexpr uint8_t kGetEncoderConfiguration = 0x0C;
constexpr uint8_t kSetCurrentPositionToZero = 0x0D;
constexpr uint8_t kGetZeroPosition = 0x0E;
constexpr uint8_t kSetEncoderDirection = 0x0F;
constexpr uint8_t kGetEncoderDirection = 0x10;
constexpr uint8_t kSetFilterWindowLength = 0x11;
constexpr uint8_t kGetFilterWindowLength = 0x12;
constexpr uint8_t kSetMAxxxSPIRegister = 0x13;
constexpr uint8_t kGetMAxxxSPIRegister = 0x14;
constexpr uint8_t kSetScalingFactor = 0x15;
constexpr uint8_t kGetScalingFactor = 0x16;
constexpr uint8_t kGetEncoderCount = 0x30;
constexpr uint8_t kGetEncoderRawData = 0x31;
constexpr uint8_t kGetAbsoluteAngle = 0x32;
constexpr uint8_t kGetMultiturnAngle = 0x33;
constexpr uint8_t kGetRawVelocity = 0x34;
constexpr uint8_t kGetScaledVelocity = 0x35;
constexpr uint8_t kGetFilteredVelocity = 0x36;
constexpr uint8_t kGetScaledFilteredVelocity = 0x37;
constexpr uint8_t kGetRawAcceleration = 0x38;
constexpr uint8_t kGetScaledAcceleration = 0x39;
constexpr uint8_t kGetFilteredAcceleration = 0x3A;
constexpr uint8_t kGetScaledFilteredAcceleration = 0x3B;
constexpr uint8_t kSetLinearCount = 0x50;
constexpr uint8_t kSetCANBaudRate = 0x5A;
constexpr uint8_t kGetCANBaudRate = 0x5B;
constexpr uint8_t kGetErrorCode = 0x60;
constexpr uint8_t kClearEncoderErrors = 0x6F;

using u8 = unsigned char;
using u16 = unsigned short;
using u32 = unsigned int;

inline constexpr Route kVorlexRouteList[] = {
    {kGetHardwareVersion, layoutOf<u8, u8, u8, u8>()},
    {kGetFirmwareVersion, layoutOf<u8, u8, u16>()},
    {kGetFirmwareCommit, layoutOf<std::string>()},
    {kGetNodeId, layoutOf<u32>()},
    {kGetFilterWindowLength, layoutOf<u32>()},
    {kGetEncoderRawData, layoutOf<u32>()},
    {kGetCANBaudRate, layoutOf<u32>()},
    {kGetErrorCode, layoutOf<u32>()},
    {kGetEncoderConfiguration, layoutOf<u8, int>()},
    {kGetZeroPosition, layoutOf<float>()},
    {kGetScalingFactor, layoutOf<float>()},
    {kGetAbsoluteAngle, layoutOf<float>()},
    {kGetMultiturnAngle, layoutOf<float>()},
    {kGetRawVelocity, layoutOf<float>()},
    {kGetScaledVelocity, layoutOf<float>()},
    {kGetFilteredVelocity, layoutOf<float>()},
    {kGetScaledFilteredVelocity, layoutOf<float>()},
    {kGetRawAcceleration, layoutOf<float>()},
    {kGetScaledAcceleration, layoutOf<float>()},
    {kGetFilteredAcceleration, layoutOf<float>()},
    {kGetScaledFilteredAcceleration, layoutOf<float>()},
    {kGetEncoderDirection, layoutOf<u8>()},
    {kGetMAxxxSPIRegister, layoutOf<u8, bool>()},
    {kGetEncoderCount, layoutOf<int>()},
};

inline constexpr RouteTable kVorlexRoutes{kVorlexRouteList};

}  // namespace kinetra::protocol::vorlex
