#pragma once
// The operations of the Vorlex encoder, each once: request frame, arguments,
// reply values and description, as protocol/operation.h describes them. The
// list at the end names every public operation with its C++ signature (T: the
// table carries it out; M: the implementation's method of that name adds to it,
// see protocol/motor_operations.h); the proxy's forwarding and the Python
// bindings are expanded from it.

#include "devices/protocol/motor_controller_protocol.h"
#include "devices/protocol/operation.h"
#include "devices/protocol/sensor_operations.h"
#include "devices/protocol/vorlex_protocol.h"

namespace kinetra::protocol::vorlex {

namespace vorlex_ops {
using namespace fields;
using K = ValueKind;

inline constexpr Operation getAbsoluteAngle =
    query("getAbsoluteAngle", kGetAbsoluteAngle, {real("angle")}, "Reads the absolute angle within one turn.");
inline constexpr Operation getMultiturnAngle =
    query("getMultiturnAngle", kGetMultiturnAngle, {real("angle")}, "Reads the angle counted over several turns.");
inline constexpr Operation getEncoderCount =
    query("getEncoderCount", kGetEncoderCount, {int32("count", "counts")}, "Reads the encoder count.");
inline constexpr Operation getEncoderRawData =
    query("getEncoderRawData", kGetEncoderRawData, {word32("raw")}, "Reads the sensor chip's raw reading.");
inline constexpr Operation getZeroPosition =
    query("getZeroPosition", kGetZeroPosition, {real("position")}, "Reads the zero position.");
inline constexpr Operation setCurrentPositionToZero =
    command("setCurrentPositionToZero", kSetCurrentPositionToZero, FrameKind::Remote, 0, {}, "Makes the current position the zero position (sent as a remote frame).");
inline constexpr Operation getRawVelocity =
    query("getRawVelocity", kGetRawVelocity, {real("velocity")}, "Reads the raw velocity.");
inline constexpr Operation getScaledVelocity =
    query("getScaledVelocity", kGetScaledVelocity, {real("velocity")}, "Reads the velocity times the scaling factor.");
inline constexpr Operation getFilteredVelocity =
    query("getFilteredVelocity", kGetFilteredVelocity, {real("velocity")}, "Reads the filtered velocity.");
inline constexpr Operation getScaledFilteredVelocity =
    query("getScaledFilteredVelocity", kGetScaledFilteredVelocity, {real("velocity")}, "Reads the filtered velocity times the scaling factor.");
inline constexpr Operation getRawAcceleration =
    query("getRawAcceleration", kGetRawAcceleration, {real("acceleration")}, "Reads the raw acceleration.");
inline constexpr Operation getScaledAcceleration =
    query("getScaledAcceleration", kGetScaledAcceleration, {real("acceleration")}, "Reads the acceleration times the scaling factor.");
inline constexpr Operation getFilteredAcceleration =
    query("getFilteredAcceleration", kGetFilteredAcceleration, {real("acceleration")}, "Reads the filtered acceleration.");
inline constexpr Operation getScaledFilteredAcceleration =
    query("getScaledFilteredAcceleration", kGetScaledFilteredAcceleration, {real("acceleration")}, "Reads the filtered acceleration times the scaling factor.");
inline constexpr Operation configureEncoder =
    command("configureEncoder", kConfigureEncoder, FrameKind::Data, 5, {byte("type"), int32("resolution")}, "Configures the encoder's type and resolution.");
inline constexpr Operation getEncoderConfiguration =
    query("getEncoderConfiguration", kGetEncoderConfiguration, {byte("type"), int32("resolution")}, "Reads the encoder's type and resolution.");
inline constexpr Operation setEncoderDirection =
    command("setEncoderDirection", kSetEncoderDirection, FrameKind::Data, 1, {byte("direction")}, "Sets the counting direction.");
inline constexpr Operation getEncoderDirection =
    query("getEncoderDirection", kGetEncoderDirection, {byte("direction")}, "Reads the counting direction.");
inline constexpr Operation setScalingFactor =
    command("setScalingFactor", kSetScalingFactor, FrameKind::Data, 4, {real("factor")}, "Sets the scaling factor of the scaled readings.");
inline constexpr Operation getScalingFactor =
    query("getScalingFactor", kGetScalingFactor, {real("factor")}, "Reads the scaling factor.");
inline constexpr Operation setFilterWindowLength =
    command("setFilterWindowLength", kSetFilterWindowLength, FrameKind::Data, 4, {word32("length")}, "Sets the filter window length.");
inline constexpr Operation getFilterWindowLength =
    query("getFilterWindowLength", kGetFilterWindowLength, {word32("length")}, "Reads the filter window length.");
inline constexpr Operation setLinearCount =
    command("setLinearCount", kSetLinearCount, FrameKind::Data, 4, {word32("count")}, "Sets the linear count.");
inline constexpr Operation setMAxxxSPIRegister =
    command("setMAxxxSPIRegister", kSetMAxxxSPIRegister, FrameKind::Data, 2, {byte("address"), byte("value")}, "Writes register `address` of the sensor chip; not confirmed.");
inline constexpr Operation getMAxxxSPIRegister =
    dataQuery("getMAxxxSPIRegister", kGetMAxxxSPIRegister, 1, {byte("address")}, {byte("value"), flag("flag")}, "Reads register `address` of the sensor chip.");
inline constexpr Operation setCANBaudRate =
    command("setCANBaudRate", kSetCANBaudRate, FrameKind::Data, 4, {ranged("rate", K::U32, 0, motor::kCanBitRateCount - 1)}, "Sets the device's CAN bit rate; a selector outside 0-8 gives RET_INVALID_ARGUMENT and sends nothing.");
inline constexpr Operation getCANBaudRate =
    query("getCANBaudRate", kGetCANBaudRate, {word32("bit_rate", "bit/s")}, "Reads the device's CAN bit rate as a selector; a rate outside the table, or no reply, reads as -1.");
inline constexpr Operation getErrorCode =
    query("getErrorCode", kGetErrorCode, {word32("code")}, "Reads the error code.");
inline constexpr Operation clearEncoderErrors =
    command("clearEncoderErrors", kClearEncoderErrors, FrameKind::Remote, 0, {}, "Clears the encoder's errors (sent as a remote frame).");
inline constexpr Operation rebootVorlex =
    command("rebootVorlex", kReboot, FrameKind::Remote, 0, {}, "Restarts the encoder (sent as a remote frame).");
}  // namespace vorlex_ops

#define KINETRA_VORLEX_OPERATIONS(T, M, ctx) \
    T(ctx, getAbsoluteAngle, (float* angle), (angle)) \
    T(ctx, getMultiturnAngle, (float* angle), (angle)) \
    T(ctx, getEncoderCount, (int* count), (count)) \
    T(ctx, getEncoderRawData, (unsigned int* raw), (raw)) \
    T(ctx, getZeroPosition, (float* position), (position)) \
    T(ctx, setCurrentPositionToZero, (), ()) \
    T(ctx, getRawVelocity, (float* velocity), (velocity)) \
    T(ctx, getScaledVelocity, (float* velocity), (velocity)) \
    T(ctx, getFilteredVelocity, (float* velocity), (velocity)) \
    T(ctx, getScaledFilteredVelocity, (float* velocity), (velocity)) \
    T(ctx, getRawAcceleration, (float* acceleration), (acceleration)) \
    T(ctx, getScaledAcceleration, (float* acceleration), (acceleration)) \
    T(ctx, getFilteredAcceleration, (float* acceleration), (acceleration)) \
    T(ctx, getScaledFilteredAcceleration, (float* acceleration), (acceleration)) \
    T(ctx, configureEncoder, (unsigned char type, int resolution), (type, resolution)) \
    T(ctx, getEncoderConfiguration, (unsigned char* type, int* resolution), (type, resolution)) \
    T(ctx, setEncoderDirection, (unsigned char direction), (direction)) \
    T(ctx, getEncoderDirection, (unsigned char* direction), (direction)) \
    T(ctx, setScalingFactor, (float factor), (factor)) \
    T(ctx, getScalingFactor, (float* factor), (factor)) \
    T(ctx, setFilterWindowLength, (unsigned int length), (length)) \
    T(ctx, getFilterWindowLength, (unsigned int* length), (length)) \
    T(ctx, setLinearCount, (unsigned int count), (count)) \
    T(ctx, setMAxxxSPIRegister, (unsigned char address, unsigned char value), (address, value)) \
    T(ctx, getMAxxxSPIRegister, (unsigned char address, unsigned char* value, bool* flag), (address, value, flag)) \
    M(ctx, setCANBaudRate, (CANBaudRate rate), (rate)) \
    M(ctx, getCANBaudRate, (CANBaudRate* rate), (rate)) \
    T(ctx, getErrorCode, (unsigned int* code), (code)) \
    T(ctx, clearEncoderErrors, (), ()) \
    T(ctx, rebootVorlex, (), ())

namespace detail {
#define KINETRA_OPERATION_ENTRY(entries, name, params, args) &entries::name,
inline constexpr const Operation* kVorlexOperationList[] = {
    KINETRA_VORLEX_OPERATIONS(KINETRA_OPERATION_ENTRY, KINETRA_OPERATION_ENTRY, vorlex_ops)
        KINETRA_SENSOR_COMMON_OPERATIONS(KINETRA_OPERATION_ENTRY, KINETRA_OPERATION_ENTRY, sensor_ops)};
#undef KINETRA_OPERATION_ENTRY
}  // namespace detail

/// Every operation of the encoder.
inline constexpr OperationTable kVorlexOperations = tableOf(detail::kVorlexOperationList);

}  // namespace kinetra::protocol::vorlex
