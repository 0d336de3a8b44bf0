#pragma once
// The maintenance operations the IMU and the encoder share with the same frames
// (the motor controllers' differ: a longer node-id request, a commit in bytes),
// described once for both in the idiom of protocol/operation.h, with their list.

#include "devices/protocol/common_commands.h"
#include "devices/protocol/operation.h"

namespace kinetra::protocol::sensor_ops {
using namespace common;
using namespace fields;
using K = ValueKind;

inline constexpr Operation saveConfigurations =
    command("saveConfigurations", kSaveConfigurations, FrameKind::Data, 0, {}, "Makes the device store its current configuration permanently.");
inline constexpr Operation eraseConfigurations =
    command("eraseConfigurations", kEraseConfigurations, FrameKind::Data, 0, {}, "Makes the device erase its stored configuration.");
inline constexpr Operation getNodeId =
    query("getNodeId", kGetNodeId, {word32("id")}, "Reads the node identifier the device reports.");
inline constexpr Operation setNodeId =
    command("setNodeId", kSetNodeId, FrameKind::Data, 4, {word32("id")}, "Tells the device its new node identifier; this proxy keeps addressing the old one.");
inline constexpr Operation enterDFUMode =
    command("enterDFUMode", kEnterDfuMode, FrameKind::Data, 0, {}, "Restarts the device into its firmware-update bootloader.");
inline constexpr Operation getHardwareVersion =
    query("getHardwareVersion", kGetHardwareVersion, {byte("a"), byte("b"), byte("c"), byte("d")}, "Reads the four hardware version numbers.");
inline constexpr Operation getFirmwareVersion =
    query("getFirmwareVersion", kGetFirmwareVersion, {byte("major"), byte("minor"), word16("patch")}, "Reads the firmware version.");
inline constexpr Operation getFirmwareCommit =
    query("getFirmwareCommit", kGetFirmwareCommit, {field("commit", K::Text)}, "Reads the firmware commit text (up to eight characters).");

}  // namespace kinetra::protocol::sensor_ops

#define KINETRA_SENSOR_COMMON_OPERATIONS(T, M, ctx) \
    T(ctx, saveConfigurations, (), ()) \
    T(ctx, eraseConfigurations, (), ()) \
    T(ctx, getNodeId, (unsigned int* id), (id)) \
    T(ctx, setNodeId, (unsigned int id), (id)) \
    T(ctx, enterDFUMode, (), ()) \
    T(ctx, getHardwareVersion, (unsigned char* a, unsigned char* b, unsigned char* c, unsigned char* d), (a, b, c, d)) \
    T(ctx, getFirmwareVersion, (unsigned char* major, unsigned char* minor, unsigned short* patch), (major, minor, patch)) \
    T(ctx, getFirmwareCommit, (std::string * commit), (commit))
