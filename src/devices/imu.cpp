#include <kinetra/imu.h>

#include "devices/imu_impl.h"
#include "devices/protocol/imu_protocol.h"

namespace {
namespace imu = kinetra::protocol::imu;
}  // namespace

IMU::IMU(unsigned int node_id, Interface* iface) : impl_(nullptr), iface_(iface) {
    node_id_ = node_id;
    impl_ = new IMUImpl(node_id, iface);
    // Without an interface the proxy only reports RET_NOT_INITIALISED.
    if (iface_ != nullptr) iface_->registerCANMsgCallback(this);
}

IMU::~IMU() {
    if (impl_ == nullptr) return;
    // An interface destroyed first has no registry left to leave.
    if (Interface* iface = impl_->iface()) iface->unregisterCANMsgCallback(this);
    delete impl_;
    impl_ = nullptr;
}

void IMU::canMsgCallback(can_frame_data* frame) {
    if (impl_ != nullptr) impl_->handleFrame(frame);
}

bool IMU::isConnected() { return impl_ != nullptr && impl_->isConnected(); }

void IMU::setOutputLogStream(std::ostream* stream) {
    if (impl_ != nullptr) impl_->setOutputLogStream(stream);
}

// Report switching.

ret_status_t IMU::enableRotationVector(unsigned short rate) {
    return kinetra::forwardTo(impl_, &IMUImpl::switchReport, ENABLE_ROTATION_VECTOR, rate, true);
}
ret_status_t IMU::enableRawAccelerometer(unsigned short rate) {
    return kinetra::forwardTo(impl_, &IMUImpl::switchReport, ENABLE_RAW_ACCELEROMETER, rate, true);
}
ret_status_t IMU::enableRawGyro(unsigned short rate) {
    return kinetra::forwardTo(impl_, &IMUImpl::switchReport, ENABLE_RAW_GYRO, rate, true);
}
ret_status_t IMU::enableRawMagnetometer(unsigned short rate) {
    return kinetra::forwardTo(impl_, &IMUImpl::switchReport, ENABLE_RAW_MAGNETOMETER, rate, true);
}
ret_status_t IMU::enableLinearAccelerometer(unsigned short rate) {
    return kinetra::forwardTo(impl_, &IMUImpl::switchReport, ENABLE_LINEAR_ACCELEROMETER, rate, true);
}
ret_status_t IMU::enableAccelerometer(unsigned short rate) {
    return kinetra::forwardTo(impl_, &IMUImpl::switchReport, ENABLE_ACCELEROMETER, rate, true);
}
ret_status_t IMU::enableGyro(unsigned short rate) {
    return kinetra::forwardTo(impl_, &IMUImpl::switchReport, ENABLE_GYRO, rate, true);
}
ret_status_t IMU::enableMagnetometer(unsigned short rate) {
    return kinetra::forwardTo(impl_, &IMUImpl::switchReport, ENABLE_MAGNETOMETER, rate, true);
}
ret_status_t IMU::enableUncalibratedGyro(unsigned short rate) {
    return kinetra::forwardTo(impl_, &IMUImpl::switchReport, ENABLE_UNCALIBRATED_GYRO, rate, true);
}
ret_status_t IMU::enableGravity(unsigned short rate) {
    return kinetra::forwardTo(impl_, &IMUImpl::switchReport, ENABLE_GRAVITY, rate, true);
}

ret_status_t IMU::disableRotationVector() {
    return kinetra::forwardTo(impl_, &IMUImpl::switchReport, ENABLE_ROTATION_VECTOR, 0, false);
}
ret_status_t IMU::disableRawAccelerometer() {
    return kinetra::forwardTo(impl_, &IMUImpl::switchReport, ENABLE_RAW_ACCELEROMETER, 0, false);
}
ret_status_t IMU::disableRawGyro() {
    return kinetra::forwardTo(impl_, &IMUImpl::switchReport, ENABLE_RAW_GYRO, 0, false);
}
ret_status_t IMU::disableRawMagnetometer() {
    return kinetra::forwardTo(impl_, &IMUImpl::switchReport, ENABLE_RAW_MAGNETOMETER, 0, false);
}
ret_status_t IMU::disableLinearAccelerometer() {
    return kinetra::forwardTo(impl_, &IMUImpl::switchReport, ENABLE_LINEAR_ACCELEROMETER, 0, false);
}
ret_status_t IMU::disableAccelerometer() {
    return kinetra::forwardTo(impl_, &IMUImpl::switchReport, ENABLE_ACCELEROMETER, 0, false);
}
ret_status_t IMU::disableGyro() { return kinetra::forwardTo(impl_, &IMUImpl::switchReport, ENABLE_GYRO, 0, false); }
ret_status_t IMU::disableMagnetometer() {
    return kinetra::forwardTo(impl_, &IMUImpl::switchReport, ENABLE_MAGNETOMETER, 0, false);
}
ret_status_t IMU::disableUncalibratedGyro() {
    return kinetra::forwardTo(impl_, &IMUImpl::switchReport, ENABLE_UNCALIBRATED_GYRO, 0, false);
}
ret_status_t IMU::disableGravity() {
    return kinetra::forwardTo(impl_, &IMUImpl::switchReport, ENABLE_GRAVITY, 0, false);
}

// Sensor reads.

ret_status_t IMU::getAccelerometerData(float* x, float* y, float* z, unsigned char* status) {
    return kinetra::forwardTo(impl_, &IMUImpl::getAccelerometerData, x, y, z, status);
}
ret_status_t IMU::getGyroData(float* x, float* y, float* z, unsigned char* status) {
    return kinetra::forwardTo(impl_, &IMUImpl::getGyroData, x, y, z, status);
}
ret_status_t IMU::getLinearAccelerometerData(float* x, float* y, float* z, unsigned char* status) {
    return kinetra::forwardTo(impl_, &IMUImpl::getLinearAccelerometerData, x, y, z, status);
}
ret_status_t IMU::getMagnetometerData(float* x, float* y, float* z, unsigned char* status) {
    return kinetra::forwardTo(impl_, &IMUImpl::getMagnetometerData, x, y, z, status);
}
ret_status_t IMU::getGravityData(float* x, float* y, float* z) {
    return kinetra::forwardTo(impl_, &IMUImpl::getGravityData, x, y, z);
}
ret_status_t IMU::getUncalibratedGyroData(float* x, float* y, float* z) {
    return kinetra::forwardTo(impl_, &IMUImpl::getUncalibratedGyroData, x, y, z);
}
ret_status_t IMU::getUncalibratedGyroBiasData(float* x, float* y, float* z) {
    return kinetra::forwardTo(impl_, &IMUImpl::getUncalibratedGyroBiasData, x, y, z);
}
ret_status_t IMU::getEulerAngles(float* roll, float* pitch, float* yaw) {
    return kinetra::forwardTo(impl_, &IMUImpl::getEulerAngles, roll, pitch, yaw);
}
ret_status_t IMU::getRotationVectorData(float* a, float* b, float* c, float* d) {
    return kinetra::forwardTo(impl_, &IMUImpl::getRotationVectorData, a, b, c, d);
}
ret_status_t IMU::getRotationVectorAccuracy(float* accuracy, unsigned char* status) {
    return kinetra::forwardTo(impl_, &IMUImpl::getRotationVectorAccuracy, accuracy, status);
}
ret_status_t IMU::getRawAccelerometerData(short* x, short* y, short* z) {
    return kinetra::forwardTo(impl_, &IMUImpl::getRawAccelerometerData, x, y, z);
}
ret_status_t IMU::getRawGyroData(short* x, short* y, short* z) {
    return kinetra::forwardTo(impl_, &IMUImpl::getRawGyroData, x, y, z);
}
ret_status_t IMU::getRawMagnetometerData(short* x, short* y, short* z) {
    return kinetra::forwardTo(impl_, &IMUImpl::getRawMagnetometerData, x, y, z);
}

// Tare, calibration and orientation.

ret_status_t IMU::tareAll() { return kinetra::forwardTo(impl_, &IMUImpl::sendBare, imu::kTareAll); }
ret_status_t IMU::tareYaw() { return kinetra::forwardTo(impl_, &IMUImpl::sendBare, imu::kTareYaw); }
ret_status_t IMU::clearTare() { return kinetra::forwardTo(impl_, &IMUImpl::sendBare, imu::kClearTare); }

ret_status_t IMU::startCalibration(bool a, bool b, bool c, bool d) {
    return kinetra::forwardTo(impl_, &IMUImpl::startCalibration, a, b, c, d);
}
ret_status_t IMU::stopCalibration() { return kinetra::forwardTo(impl_, &IMUImpl::sendBare, imu::kStopCalibration); }
ret_status_t IMU::saveCalibration() { return kinetra::forwardTo(impl_, &IMUImpl::sendBare, imu::kSaveCalibration); }
ret_status_t IMU::getCalibrationStatus(bool* status) {
    return kinetra::forwardTo(impl_, &IMUImpl::getCalibrationStatus, status);
}
ret_status_t IMU::clearDCD() { return kinetra::forwardTo(impl_, &IMUImpl::sendBare, imu::kClearDCD); }

ret_status_t IMU::setOrientation(float a, float b, float c, float d) {
    return kinetra::forwardTo(impl_, &IMUImpl::setOrientation, a, b, c, d);
}

// Maintenance.

ret_status_t IMU::saveConfigurations() { return kinetra::forwardTo(impl_, &IMUImpl::saveConfigurations); }
ret_status_t IMU::eraseConfigurations() { return kinetra::forwardTo(impl_, &IMUImpl::eraseConfigurations); }
ret_status_t IMU::getNodeId(unsigned int* id) { return kinetra::forwardTo(impl_, &IMUImpl::getNodeId, id); }
ret_status_t IMU::setNodeId(unsigned int id) { return kinetra::forwardTo(impl_, &IMUImpl::setNodeId, id); }
ret_status_t IMU::rebootOrvi() { return kinetra::forwardTo(impl_, &IMUImpl::reboot); }
ret_status_t IMU::enterDFUMode() { return kinetra::forwardTo(impl_, &IMUImpl::enterDFUMode); }
ret_status_t IMU::getHardwareVersion(unsigned char* a, unsigned char* b, unsigned char* c, unsigned char* d) {
    return kinetra::forwardTo(impl_, &IMUImpl::getHardwareVersion, a, b, c, d);
}
ret_status_t IMU::getFirmwareVersion(unsigned char* major, unsigned char* minor, unsigned short* patch) {
    return kinetra::forwardTo(impl_, &IMUImpl::getFirmwareVersion, major, minor, patch);
}
ret_status_t IMU::getFirmwareCommit(std::string* commit) {
    return kinetra::forwardTo(impl_, &IMUImpl::getFirmwareCommit, commit);
}
