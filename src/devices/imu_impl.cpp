#include "devices/imu_impl.h"

#include "can/signal_field.h"
#include "devices/protocol/imu_protocol.h"

// The report selector travels through the public signal setter; its
// instantiation lives with the IMU, which owns the enumeration.
template void canSetSignal<IMU::sensor_report>(can_frame_data&, const IMU::sensor_report&, unsigned char,
                                                unsigned char, bool);

namespace {

namespace imu = kinetra::protocol::imu;

// The converted getters write their outputs whenever the query went out: they
// decode into zeroed locals, so a timed-out read reports zeros. A failed guard
// sent nothing and leaves the caller's values alone.
bool querySent(ret_status_t status) { return status == RET_OK || status == RET_TIMEOUT; }

// Sign-extended 16-bit value times the single-precision scale, multiplied in
// single precision (1000 * 0.001f is exactly 1.0f; a double product would not
// round the same way for every value).
template <uint8_t Command>
float convert(short raw) {
    constexpr float scale = imu::fixedPointScale(Command);
    static_assert(scale != 0.0f, "command carries no fixed-point values");
    return static_cast<float>(raw) * scale;
}

}  // namespace

template <uint8_t Command>
ret_status_t IMU::IMUImpl::readScaled(float* x, float* y, float* z) {
    short raw[3] = {0, 0, 0};
    const ret_status_t status = query<Command>(&raw[0], &raw[1], &raw[2]);
    if (querySent(status)) {
        *x = convert<Command>(raw[0]);
        *y = convert<Command>(raw[1]);
        *z = convert<Command>(raw[2]);
    }
    return status;
}

template <uint8_t Command>
ret_status_t IMU::IMUImpl::readScaledWithStatus(float* x, float* y, float* z, unsigned char* status_byte) {
    short raw[3] = {0, 0, 0};
    unsigned char byte = 0;
    const ret_status_t status = query<Command>(&raw[0], &raw[1], &raw[2], &byte);
    if (querySent(status)) {
        *x = convert<Command>(raw[0]);
        *y = convert<Command>(raw[1]);
        *z = convert<Command>(raw[2]);
        *status_byte = byte;
    }
    return status;
}

ret_status_t IMU::IMUImpl::getAccelerometerData(float* x, float* y, float* z, unsigned char* status) {
    return readScaledWithStatus<imu::kGetAccelerometerData>(x, y, z, status);
}

ret_status_t IMU::IMUImpl::getGyroData(float* x, float* y, float* z, unsigned char* status) {
    return readScaledWithStatus<imu::kGetGyroData>(x, y, z, status);
}

ret_status_t IMU::IMUImpl::getLinearAccelerometerData(float* x, float* y, float* z, unsigned char* status) {
    return readScaledWithStatus<imu::kGetLinearAccelerometerData>(x, y, z, status);
}

ret_status_t IMU::IMUImpl::getMagnetometerData(float* x, float* y, float* z, unsigned char* status) {
    return readScaledWithStatus<imu::kGetMagnetometerData>(x, y, z, status);
}

ret_status_t IMU::IMUImpl::getGravityData(float* x, float* y, float* z) {
    // The reply's trailing status byte is dropped.
    return readScaled<imu::kGetGravityData>(x, y, z);
}

ret_status_t IMU::IMUImpl::getUncalibratedGyroData(float* x, float* y, float* z) {
    return readScaled<imu::kGetUncalibratedGyroData>(x, y, z);
}

ret_status_t IMU::IMUImpl::getUncalibratedGyroBiasData(float* x, float* y, float* z) {
    return readScaled<imu::kGetUncalibratedGyroBiasData>(x, y, z);
}

ret_status_t IMU::IMUImpl::getEulerAngles(float* roll, float* pitch, float* yaw) {
    return readScaled<imu::kGetEulerAngles>(roll, pitch, yaw);
}

ret_status_t IMU::IMUImpl::getRotationVectorData(float* a, float* b, float* c, float* d) {
    constexpr uint8_t kCommand = imu::kGetRotationVectorData;
    short raw[4] = {0, 0, 0, 0};
    const ret_status_t status = run<imu::imu_ops::getRotationVectorData>(&raw[0], &raw[1], &raw[2], &raw[3]);
    if (querySent(status)) {
        *a = convert<kCommand>(raw[0]);
        *b = convert<kCommand>(raw[1]);
        *c = convert<kCommand>(raw[2]);
        *d = convert<kCommand>(raw[3]);
    }
    return status;
}

ret_status_t IMU::IMUImpl::getRotationVectorAccuracy(float* accuracy, unsigned char* status_byte) {
    constexpr uint8_t kCommand = imu::kGetRotationVectorAccuracy;
    short raw = 0;
    unsigned char byte = 0;
    const ret_status_t status = run<imu::imu_ops::getRotationVectorAccuracy>(&raw, &byte);
    if (querySent(status)) {
        *accuracy = convert<kCommand>(raw);
        *status_byte = byte;
    }
    return status;
}
