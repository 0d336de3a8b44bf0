#pragma once
// The operations of the IMU, each once: request frame, arguments, reply values
// with their fixed-point scales, and description, as protocol/operation.h
// describes them. The list at the end names every public operation with its C++
// signature (T: the table carries it out; M: the implementation's method of that
// name converts the reply, see protocol/motor_operations.h); the proxy's
// forwarding and the Python bindings are expanded from it. The report command's
// length is fixed per method, not by its payload: the devices expect these.

#include "devices/protocol/imu_protocol.h"
#include "devices/protocol/operation.h"
#include "devices/protocol/sensor_operations.h"

namespace kinetra::protocol::imu {

namespace imu_ops {
using namespace fields;
using K = ValueKind;

inline constexpr Operation enableRotationVector =
    command("enableRotationVector", kSetSensorReport, FrameKind::Data, 3, {constant(K::U8, IMU::ENABLE_ROTATION_VECTOR), word16("rate")}, "Switches the rotation vector report on at `rate`.");
inline constexpr Operation enableRawAccelerometer =
    command("enableRawAccelerometer", kSetSensorReport, FrameKind::Data, 3, {constant(K::U8, IMU::ENABLE_RAW_ACCELEROMETER), word16("rate")}, "Switches the raw accelerometer report on at `rate`.");
inline constexpr Operation enableRawGyro =
    command("enableRawGyro", kSetSensorReport, FrameKind::Data, 3, {constant(K::U8, IMU::ENABLE_RAW_GYRO), word16("rate")}, "Switches the raw gyroscope report on at `rate`.");
inline constexpr Operation enableRawMagnetometer =
    command("enableRawMagnetometer", kSetSensorReport, FrameKind::Data, 3, {constant(K::U8, IMU::ENABLE_RAW_MAGNETOMETER), word16("rate")}, "Switches the raw magnetometer report on at `rate`.");
inline constexpr Operation enableLinearAccelerometer =
    command("enableLinearAccelerometer", kSetSensorReport, FrameKind::Data, 8, {constant(K::U8, IMU::ENABLE_LINEAR_ACCELEROMETER), word16("rate")}, "Switches the linear accelerometer report on at `rate`.");
inline constexpr Operation enableAccelerometer =
    command("enableAccelerometer", kSetSensorReport, FrameKind::Data, 8, {constant(K::U8, IMU::ENABLE_ACCELEROMETER), word16("rate")}, "Switches the accelerometer report on at `rate`.");
inline constexpr Operation enableGyro =
    command("enableGyro", kSetSensorReport, FrameKind::Data, 8, {constant(K::U8, IMU::ENABLE_GYRO), word16("rate")}, "Switches the gyroscope report on at `rate`.");
inline constexpr Operation enableMagnetometer =
    command("enableMagnetometer", kSetSensorReport, FrameKind::Data, 8, {constant(K::U8, IMU::ENABLE_MAGNETOMETER), word16("rate")}, "Switches the magnetometer report on at `rate`.");
inline constexpr Operation enableUncalibratedGyro =
    command("enableUncalibratedGyro", kSetSensorReport, FrameKind::Data, 3, {constant(K::U8, IMU::ENABLE_UNCALIBRATED_GYRO), word16("rate")}, "Switches the uncalibrated gyroscope report on at `rate`.");
inline constexpr Operation enableGravity =
    command("enableGravity", kSetSensorReport, FrameKind::Data, 3, {constant(K::U8, IMU::ENABLE_GRAVITY), word16("rate")}, "Switches the gravity report on at `rate`.");
inline constexpr Operation disableRotationVector =
    command("disableRotationVector", kSetSensorReport, FrameKind::Data, 3, {constant(K::U8, IMU::ENABLE_ROTATION_VECTOR)}, "Switches the rotation vector report off.");
inline constexpr Operation disableRawAccelerometer =
    command("disableRawAccelerometer", kSetSensorReport, FrameKind::Data, 8, {constant(K::U8, IMU::ENABLE_RAW_ACCELEROMETER)}, "Switches the raw accelerometer report off.");
inline constexpr Operation disableRawGyro =
    command("disableRawGyro", kSetSensorReport, FrameKind::Data, 8, {constant(K::U8, IMU::ENABLE_RAW_GYRO)}, "Switches the raw gyroscope report off.");
inline constexpr Operation disableRawMagnetometer =
    command("disableRawMagnetometer", kSetSensorReport, FrameKind::Data, 8, {constant(K::U8, IMU::ENABLE_RAW_MAGNETOMETER)}, "Switches the raw magnetometer report off.");
inline constexpr Operation disableLinearAccelerometer =
    command("disableLinearAccelerometer", kSetSensorReport, FrameKind::Data, 8, {constant(K::U8, IMU::ENABLE_LINEAR_ACCELEROMETER)}, "Switches the linear accelerometer report off.");
inline constexpr Operation disableAccelerometer =
    command("disableAccelerometer", kSetSensorReport, FrameKind::Data, 8, {constant(K::U8, IMU::ENABLE_ACCELEROMETER)}, "Switches the accelerometer report off.");
inline constexpr Operation disableGyro =
    command("disableGyro", kSetSensorReport, FrameKind::Data, 8, {constant(K::U8, IMU::ENABLE_GYRO)}, "Switches the gyroscope report off.");
inline constexpr Operation disableMagnetometer =
    command("disableMagnetometer", kSetSensorReport, FrameKind::Data, 8, {constant(K::U8, IMU::ENABLE_MAGNETOMETER)}, "Switches the magnetometer report off.");
inline constexpr Operation disableUncalibratedGyro =
    command("disableUncalibratedGyro", kSetSensorReport, FrameKind::Data, 8, {constant(K::U8, IMU::ENABLE_UNCALIBRATED_GYRO)}, "Switches the uncalibrated gyroscope report off.");
inline constexpr Operation disableGravity =
    command("disableGravity", kSetSensorReport, FrameKind::Data, 8, {constant(K::U8, IMU::ENABLE_GRAVITY)}, "Switches the gravity report off.");
inline constexpr Operation getAccelerometerData =
    query("getAccelerometerData", kGetAccelerometerData, {scaled("x", K::I16, fixedPointScale(kGetAccelerometerData)), scaled("y", K::I16, fixedPointScale(kGetAccelerometerData)), scaled("z", K::I16, fixedPointScale(kGetAccelerometerData)), byte("status")}, "Reads the accelerometer values and their status byte; a read that timed out gives zeros.");
inline constexpr Operation getGyroData =
    query("getGyroData", kGetGyroData, {scaled("x", K::I16, fixedPointScale(kGetGyroData)), scaled("y", K::I16, fixedPointScale(kGetGyroData)), scaled("z", K::I16, fixedPointScale(kGetGyroData)), byte("status")}, "Reads the gyroscope values and their status byte; a read that timed out gives zeros.");
inline constexpr Operation getLinearAccelerometerData =
    query("getLinearAccelerometerData", kGetLinearAccelerometerData, {scaled("x", K::I16, fixedPointScale(kGetLinearAccelerometerData)), scaled("y", K::I16, fixedPointScale(kGetLinearAccelerometerData)), scaled("z", K::I16, fixedPointScale(kGetLinearAccelerometerData)), byte("status")}, "Reads the linear accelerometer values and their status byte; a read that timed out gives zeros.");
inline constexpr Operation getMagnetometerData =
    query("getMagnetometerData", kGetMagnetometerData, {scaled("x", K::I16, fixedPointScale(kGetMagnetometerData)), scaled("y", K::I16, fixedPointScale(kGetMagnetometerData)), scaled("z", K::I16, fixedPointScale(kGetMagnetometerData)), byte("status")}, "Reads the magnetometer values and their status byte; a read that timed out gives zeros.");
inline constexpr Operation getGravityData =
    query("getGravityData", kGetGravityData, {scaled("x", K::I16, fixedPointScale(kGetGravityData)), scaled("y", K::I16, fixedPointScale(kGetGravityData)), scaled("z", K::I16, fixedPointScale(kGetGravityData))}, "Reads the gravity values; a read that timed out gives zeros.");
inline constexpr Operation getUncalibratedGyroData =
    query("getUncalibratedGyroData", kGetUncalibratedGyroData, {scaled("x", K::I16, fixedPointScale(kGetUncalibratedGyroData)), scaled("y", K::I16, fixedPointScale(kGetUncalibratedGyroData)), scaled("z", K::I16, fixedPointScale(kGetUncalibratedGyroData))}, "Reads the uncalibrated gyroscope values; a read that timed out gives zeros.");
inline constexpr Operation getUncalibratedGyroBiasData =
    query("getUncalibratedGyroBiasData", kGetUncalibratedGyroBiasData, {scaled("x", K::I16, fixedPointScale(kGetUncalibratedGyroBiasData)), scaled("y", K::I16, fixedPointScale(kGetUncalibratedGyroBiasData)), scaled("z", K::I16, fixedPointScale(kGetUncalibratedGyroBiasData))}, "Reads the uncalibrated gyroscope bias values; a read that timed out gives zeros.");
inline constexpr Operation getEulerAngles =
    query("getEulerAngles", kGetEulerAngles, {scaled("roll", K::I16, fixedPointScale(kGetEulerAngles)), scaled("pitch", K::I16, fixedPointScale(kGetEulerAngles)), scaled("yaw", K::I16, fixedPointScale(kGetEulerAngles))}, "Reads the Euler angles; a read that timed out gives zeros.");
inline constexpr Operation getRotationVectorData =
    dataQuery("getRotationVectorData", kGetRotationVectorData, 8, {}, {scaled("a", K::I16, fixedPointScale(kGetRotationVectorData)), scaled("b", K::I16, fixedPointScale(kGetRotationVectorData)), scaled("c", K::I16, fixedPointScale(kGetRotationVectorData)), scaled("d", K::I16, fixedPointScale(kGetRotationVectorData))}, "Reads the rotation vector (its query is a data frame); a read that timed out gives zeros.");
inline constexpr Operation getRotationVectorAccuracy =
    dataQuery("getRotationVectorAccuracy", kGetRotationVectorAccuracy, 8, {}, {scaled("accuracy", K::I16, fixedPointScale(kGetRotationVectorAccuracy)), byte("status")}, "Reads the rotation vector's accuracy and status byte (its query is a data frame).");
inline constexpr Operation getRawAccelerometerData =
    query("getRawAccelerometerData", kGetRawAccelerometerData, {int16("x"), int16("y"), int16("z")}, "Reads the raw accelerometer values.");
inline constexpr Operation getRawGyroData =
    query("getRawGyroData", kGetRawGyroData, {int16("x"), int16("y"), int16("z")}, "Reads the raw gyroscope values.");
inline constexpr Operation getRawMagnetometerData =
    query("getRawMagnetometerData", kGetRawMagnetometerData, {int16("x"), int16("y"), int16("z")}, "Reads the raw magnetometer values.");
inline constexpr Operation tareAll =
    command("tareAll", kTareAll, FrameKind::Data, 0, {}, "Tares all axes.");
inline constexpr Operation tareYaw =
    command("tareYaw", kTareYaw, FrameKind::Data, 0, {}, "Tares the yaw axis.");
inline constexpr Operation clearTare =
    command("clearTare", kClearTare, FrameKind::Data, 0, {}, "Clears the tare.");
inline constexpr Operation startCalibration =
    command("startCalibration", kStartCalibration, FrameKind::Data, 1, {flag("a"), flag("b"), flag("c"), flag("d")}, "Starts the sensor calibration; the four flags select what is calibrated.");
inline constexpr Operation stopCalibration =
    command("stopCalibration", kStopCalibration, FrameKind::Data, 0, {}, "Stops the sensor calibration.");
inline constexpr Operation saveCalibration =
    command("saveCalibration", kSaveCalibration, FrameKind::Data, 0, {}, "Saves the sensor calibration.");
inline constexpr Operation getCalibrationStatus =
    query("getCalibrationStatus", kGetCalibrationStatus, {flag("status")}, "Reads whether the calibration is done.");
inline constexpr Operation clearDCD =
    command("clearDCD", kClearDCD, FrameKind::Data, 0, {}, "Clears the dynamic calibration data.");
inline constexpr Operation setOrientation =
    command("setOrientation", kSetOrientation, FrameKind::Data, 8, {scaled("a", K::I16, fixedPointScale(kSetOrientation)), scaled("b", K::I16, fixedPointScale(kSetOrientation)), scaled("c", K::I16, fixedPointScale(kSetOrientation)), scaled("d", K::I16, fixedPointScale(kSetOrientation))}, "Sets the mounting orientation as a quaternion, each part in thousandths (truncated).");
inline constexpr Operation rebootOrvi =
    command("rebootOrvi", kReboot, FrameKind::Remote, 0, {}, "Restarts the IMU (sent as a remote frame).");
}  // namespace imu_ops

#define KINETRA_IMU_OPERATIONS(T, M, ctx) \
    T(ctx, enableRotationVector, (unsigned short rate), (rate)) \
    T(ctx, enableRawAccelerometer, (unsigned short rate), (rate)) \
    T(ctx, enableRawGyro, (unsigned short rate), (rate)) \
    T(ctx, enableRawMagnetometer, (unsigned short rate), (rate)) \
    T(ctx, enableLinearAccelerometer, (unsigned short rate), (rate)) \
    T(ctx, enableAccelerometer, (unsigned short rate), (rate)) \
    T(ctx, enableGyro, (unsigned short rate), (rate)) \
    T(ctx, enableMagnetometer, (unsigned short rate), (rate)) \
    T(ctx, enableUncalibratedGyro, (unsigned short rate), (rate)) \
    T(ctx, enableGravity, (unsigned short rate), (rate)) \
    T(ctx, disableRotationVector, (), ()) \
    T(ctx, disableRawAccelerometer, (), ()) \
    T(ctx, disableRawGyro, (), ()) \
    T(ctx, disableRawMagnetometer, (), ()) \
    T(ctx, disableLinearAccelerometer, (), ()) \
    T(ctx, disableAccelerometer, (), ()) \
    T(ctx, disableGyro, (), ()) \
    T(ctx, disableMagnetometer, (), ()) \
    T(ctx, disableUncalibratedGyro, (), ()) \
    T(ctx, disableGravity, (), ()) \
    M(ctx, getAccelerometerData, (float* x, float* y, float* z, unsigned char* status), (x, y, z, status)) \
    M(ctx, getGyroData, (float* x, float* y, float* z, unsigned char* status), (x, y, z, status)) \
    M(ctx, getLinearAccelerometerData, (float* x, float* y, float* z, unsigned char* status), (x, y, z, status)) \
    M(ctx, getMagnetometerData, (float* x, float* y, float* z, unsigned char* status), (x, y, z, status)) \
    M(ctx, getGravityData, (float* x, float* y, float* z), (x, y, z)) \
    M(ctx, getUncalibratedGyroData, (float* x, float* y, float* z), (x, y, z)) \
    M(ctx, getUncalibratedGyroBiasData, (float* x, float* y, float* z), (x, y, z)) \
    M(ctx, getEulerAngles, (float* roll, float* pitch, float* yaw), (roll, pitch, yaw)) \
    M(ctx, getRotationVectorData, (float* a, float* b, float* c, float* d), (a, b, c, d)) \
    M(ctx, getRotationVectorAccuracy, (float* accuracy, unsigned char* status), (accuracy, status)) \
    T(ctx, getRawAccelerometerData, (short* x, short* y, short* z), (x, y, z)) \
    T(ctx, getRawGyroData, (short* x, short* y, short* z), (x, y, z)) \
    T(ctx, getRawMagnetometerData, (short* x, short* y, short* z), (x, y, z)) \
    T(ctx, tareAll, (), ()) \
    T(ctx, tareYaw, (), ()) \
    T(ctx, clearTare, (), ()) \
    T(ctx, startCalibration, (bool a, bool b, bool c, bool d), (a, b, c, d)) \
    T(ctx, stopCalibration, (), ()) \
    T(ctx, saveCalibration, (), ()) \
    T(ctx, getCalibrationStatus, (bool* status), (status)) \
    T(ctx, clearDCD, (), ()) \
    T(ctx, setOrientation, (float a, float b, float c, float d), (a, b, c, d)) \
    T(ctx, rebootOrvi, (), ())

namespace detail {
#define KINETRA_OPERATION_ENTRY(entries, name, params, args) &entries::name,
inline constexpr const Operation* kImuOperationList[] = {
    KINETRA_IMU_OPERATIONS(KINETRA_OPERATION_ENTRY, KINETRA_OPERATION_ENTRY, imu_ops)
        KINETRA_SENSOR_COMMON_OPERATIONS(KINETRA_OPERATION_ENTRY, KINETRA_OPERATION_ENTRY, sensor_ops)};
#undef KINETRA_OPERATION_ENTRY
}  // namespace detail

/// Every operation of the IMU.
inline constexpr OperationTable kImuOperations = tableOf(detail::kImuOperationList);

/// The length of the rotation-vector queries' data frames, for code that builds
/// the request itself (the control cycle): taken from their entries.
inline constexpr uint8_t kRotationVectorQueryDlc = imu_ops::getRotationVectorData.dlc;
static_assert(imu_ops::getRotationVectorAccuracy.dlc == kRotationVectorQueryDlc, "both queries share one length");

}  // namespace kinetra::protocol::imu
