// The simulated IMU's command set: what each command of the IMU's protocol does
// to the model, and how each query encodes the model's readings on the wire.

#include "kinetra_sim/imu_fixed_point.h"
#include "kinetra_sim/imu_node.h"
#include "kinetra_sim/node_answer.h"
#include "kinetra_sim/payload_values.h"

#include "devices/protocol/imu_protocol.h"
#include "devices/protocol/payload.h"

#include <cmath>
#include <tuple>

namespace kinetra::sim {
namespace {

namespace imu = protocol::imu;
using Fixed3 = std::tuple<int16_t, int16_t, int16_t>;
using Fixed3Status = std::tuple<int16_t, int16_t, int16_t, uint8_t>;

int16_t fixed(double value, uint8_t command) { return imuFixedPoint(value, command); }

Fixed3 fixed3(const Vec3& v, uint8_t command) { return {fixed(v.x, command), fixed(v.y, command), fixed(v.z, command)}; }

Fixed3Status fixed3(const Vec3& v, uint8_t status, uint8_t command) {
    return {fixed(v.x, command), fixed(v.y, command), fixed(v.z, command), status};
}

Fixed3 raw3(const std::array<int16_t, 3>& raw) { return {raw[0], raw[1], raw[2]}; }

// The report that feeds each query; 0 for queries answered whatever is switched on.
uint8_t reportOf(uint8_t command) {
    switch (command) {
        case imu::kGetRotationVectorData:
        case imu::kGetRotationVectorAccuracy:
        case imu::kGetEulerAngles: return IMU::ENABLE_ROTATION_VECTOR;
        case imu::kGetRawAccelerometerData: return IMU::ENABLE_RAW_ACCELEROMETER;
        case imu::kGetRawGyroData: return IMU::ENABLE_RAW_GYRO;
        case imu::kGetRawMagnetometerData: return IMU::ENABLE_RAW_MAGNETOMETER;
        case imu::kGetLinearAccelerometerData: return IMU::ENABLE_LINEAR_ACCELEROMETER;
        case imu::kGetAccelerometerData: return IMU::ENABLE_ACCELEROMETER;
        case imu::kGetGyroData: return IMU::ENABLE_GYRO;
        case imu::kGetMagnetometerData: return IMU::ENABLE_MAGNETOMETER;
        case imu::kGetUncalibratedGyroData:
        case imu::kGetUncalibratedGyroBiasData: return IMU::ENABLE_UNCALIBRATED_GYRO;
        case imu::kGetGravityData: return IMU::ENABLE_GRAVITY;
        default: return 0;
    }
}

}  // namespace

void ImuNode::installCommandSet() {
    onCommand(imu::kSetSensorReport, [this](const can_frame_data& frame) {
        const auto [selector, rate] = unpackWord<uint8_t, uint16_t>(protocol::payloadWord(frame));
        model_.setReport(selector, rate);
    });
    onCommand(imu::kSetOrientation, [this](const can_frame_data& frame) {
        const auto [w, x, y, z] = unpackWord<int16_t, int16_t, int16_t, int16_t>(protocol::payloadWord(frame));
        const double scale = imu::fixedPointScale(imu::kSetOrientation);
        model_.setOrientation(Quat{w * scale, x * scale, y * scale, z * scale});
    });
    onCommand(imu::kStartCalibration, [this](const can_frame_data& frame) {
        const auto [a, g, m, p] = unpackWord<bool, bool, bool, bool>(protocol::payloadWord(frame));
        model_.startCalibration(a, g, m, p);
    });
    onCommand(imu::kStopCalibration, [this](const can_frame_data&) { model_.stopCalibration(); });
    onCommand(imu::kSaveCalibration, [this](const can_frame_data&) { model_.saveCalibration(); });
    onCommand(imu::kClearDCD, [this](const can_frame_data&) { model_.clearCalibration(); });
    onCommand(imu::kTareYaw, [this](const can_frame_data&) { model_.tareYaw(); });
    onCommand(imu::kTareAll, [this](const can_frame_data&) { model_.tareAll(); });
    onCommand(imu::kClearTare, [this](const can_frame_data&) { model_.clearTare(); });

    answer(imu::kGetRotationVectorData, [this] {
        const Quat q = model_.rotationVector();
        constexpr uint8_t c = imu::kGetRotationVectorData;
        return std::tuple{fixed(q.w, c), fixed(q.x, c), fixed(q.y, c), fixed(q.z, c)};
    });
    answer(imu::kGetRotationVectorAccuracy, [this] {
        return std::tuple{fixed(model_.rotationAccuracy(), imu::kGetRotationVectorAccuracy),
                          model_.magnetometerStatus()};
    });
    answer(imu::kGetEulerAngles, [this] { return fixed3(model_.eulerAngles(), imu::kGetEulerAngles); });
    answer(imu::kGetRawAccelerometerData, [this] { return raw3(model_.rawAccelerometer()); });
    answer(imu::kGetRawGyroData, [this] { return raw3(model_.rawGyro()); });
    answer(imu::kGetRawMagnetometerData, [this] { return raw3(model_.rawMagnetometer()); });
    answer(imu::kGetLinearAccelerometerData, [this] {
        return fixed3(model_.linearAcceleration(), model_.accelerometerStatus(), imu::kGetLinearAccelerometerData);
    });
    answer(imu::kGetAccelerometerData, [this] {
        return fixed3(model_.acceleration(), model_.accelerometerStatus(), imu::kGetAccelerometerData);
    });
    answer(imu::kGetGyroData, [this] { return fixed3(model_.gyro(), model_.gyroStatus(), imu::kGetGyroData); });
    answer(imu::kGetMagnetometerData, [this] {
        return fixed3(model_.magnetometer(), model_.magnetometerStatus(), imu::kGetMagnetometerData);
    });
    answer(imu::kGetUncalibratedGyroData,
           [this] { return fixed3(model_.uncalibratedGyro(), imu::kGetUncalibratedGyroData); });
    answer(imu::kGetUncalibratedGyroBiasData,
           [this] { return fixed3(model_.gyroBias(), imu::kGetUncalibratedGyroBiasData); });
    answer(imu::kGetGravityData,
           [this] { return fixed3(model_.gravity(), model_.accelerometerStatus(), imu::kGetGravityData); });
    answer(imu::kGetCalibrationStatus, [this] { return model_.calibrated(); });
}

bool ImuNode::answersQuery(uint8_t command) {
    const uint8_t report = reportOf(command);
    return report == 0 || model_.reportOn(report);
}

void ImuNode::onTick(std::chrono::nanoseconds elapsed) {
    model_.advance(std::chrono::duration<double>(elapsed).count());
}

void ImuNode::onSave() { model_.save(); }
void ImuNode::onErase() { model_.erase(); }
void ImuNode::onReboot() { model_.reboot(); }

}  // namespace kinetra::sim
