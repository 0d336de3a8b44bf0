#include <kinetra/imu.h>

#include "devices/imu_impl.h"
#include "devices/protocol/imu_protocol.h"

namespace {
namespace imu = kinetra::protocol::imu;
}  // namespace

IMU::IMU(unsigned int node_id, Interface* iface) : impl_(nullptr), iface_(iface) {
    node_id_ = node_id;
    impl_ = new IMUImpl(node_id, iface);
    iface_->registerCANMsgCallback(this);
}

IMU::~IMU() {
    if (impl_ == nullptr) return;
    iface_->unregisterCANMsgCallback(this);
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
    return impl_ ? impl_->switchReport(ENABLE_ROTATION_VECTOR, rate, true) : RET_NOT_INITIALISED;
}
ret_status_t IMU::enableRawAccelerometer(unsigned short rate) {
    return impl_ ? impl_->switchReport(ENABLE_RAW_ACCELEROMETER, rate, true) : RET_NOT_INITIALISED;
}
ret_status_t IMU::enableRawGyro(unsigned short rate) {
    return impl_ ? impl_->switchReport(ENABLE_RAW_GYRO, rate, true) : RET_NOT_INITIALISED;
}
ret_status_t IMU::enableRawMagnetometer(unsigned short rate) {
    return impl_ ? impl_->switchReport(ENABLE_RAW_MAGNETOMETER, rate, true) : RET_NOT_INITIALISED;
}
ret_status_t IMU::enableLinearAccelerometer(unsigned short rate) {
    return impl_ ? impl_->switchReport(ENABLE_LINEAR_ACCELEROMETER, rate, true) : RET_NOT_INITIALISED;
}
ret_status_t IMU::enableAccelerometer(unsigned short rate) {
    return impl_ ? impl_->switchReport(ENABLE_ACCELEROMETER, rate, true) : RET_NOT_INITIALISED;
}
ret_status_t IMU::enableGyro(unsigned short rate) {
    return impl_ ? impl_->switchReport(ENABLE_GYRO, rate, true) : RET_NOT_INITIALISED;
}
ret_status_t IMU::enableMagnetometer(unsigned short rate) {
    return impl_ ? impl_->switchReport(ENABLE_MAGNETOMETER, rate, true) : RET_NOT_INITIALISED;
}
ret_status_t IMU::enableUncalibratedGyro(unsigned short rate) {
    return impl_ ? impl_->switchReport(ENABLE_UNCALIBRATED_GYRO, rate, true) : RET_NOT_INITIALISED;
}
ret_status_t IMU::enableGravity(unsigned short rate) {
    return impl_ ? impl_->switchReport(ENABLE_GRAVITY, rate, true) : RET_NOT_INITIALISED;
}

ret_status_t IMU::disableRotationVector() {
    return impl_ ? impl_->switchReport(ENABLE_ROTATION_VECTOR, 0, false) : RET_NOT_INITIALISED;
}
ret_status_t IMU::disableRawAccelerometer() {
    return impl_ ? impl_->switchReport(ENABLE_RAW_ACCELEROMETER, 0, false) : RET_NOT_INITIALISED;
}
ret_status_t IMU::disableRawGyro() {
    return impl_ ? impl_->switchReport(ENABLE_RAW_GYRO, 0, false) : RET_NOT_INITIALISED;
}
ret_status_t IMU::disableRawMagnetometer() {
    return impl_ ? impl_->switchReport(ENABLE_RAW_MAGNETOMETER, 0, false) : RET_NOT_INITIALISED;
}
ret_status_t IMU::disableLinearAccelerometer() {
    return impl_ ? impl_->switchReport(ENABLE_LINEAR_ACCELEROMETER, 0, false) : RET_NOT_INITIALISED;
}
ret_status_t IMU::disableAccelerometer() {
    return impl_ ? impl_->switchReport(ENABLE_ACCELEROMETER, 0, false) : RET_NOT_INITIALISED;
}
ret_status_t IMU::disableGyro() { return impl_ ? impl_->switchReport(ENABLE_GYRO, 0, false) : RET_NOT_INITIALISED; }
ret_status_t IMU::disableMagnetometer() {
    return impl_ ? impl_->switchReport(ENABLE_MAGNETOMETER, 0, false) : RET_NOT_INITIALISED;
}
ret_status_t IMU::disableUncalibratedGyro() {
    return impl_ ? impl_->switchReport(ENABLE_UNCALIBRATED_GYRO, 0, false) : RET_NOT_INITIALISED;
}
ret_status_t IMU::disableGravity() {
    return impl_ ? impl_->switchReport(ENABLE_GRAVITY, 0, false) : RET_NOT_INITIALISED;
}

// Sensor reads.

ret_status_t IMU::getAccelerometerData(float* x, float* y, float* z, unsigned char* status) {
    return impl_ ? impl_->getAccelerometerData(x, y, z, status) : RET_NOT_INITIALISED;
}
ret_status_t IMU::getGyroData(float* x, float* y, float* z, unsigned char* status) {
    return impl_ ? impl_->getGyroData(x, y, z, status) : RET_NOT_INITIALISED;
}
ret_status_t IMU::getLinearAccelerometerData(float* x, float* y, float* z, unsigned char* status) {
    return impl_ ? impl_->getLinearAccelerometerData(x, y, z, status) : RET_NOT_INITIALISED;
}
ret_status_t IMU::getMagnetometerData(float* x, float* y, float* z, unsigned char* status) {
    return impl_ ? impl_->getMagnetometerData(x, y, z, status) : RET_NOT_INITIALISED;
}
ret_status_t IMU::getGravityData(float* x, float* y, float* z) {
    return impl_ ? impl_->getGravityData(x, y, z) : RET_NOT_INITIALISED;
}
ret_status_t IMU::getUncalibratedGyroData(float* x, float* y, float* z) {
    return impl_ ? impl_->getUncalibratedGyroData(x, y, z) : RET_NOT_INITIALISED;
}
ret_status_t IMU::getUncalibratedGyroBiasData(float* x, float* y, float* z) {
    return impl_ ? impl_->getUncalibratedGyroBiasData(x, y, z) : RET_NOT_INITIALISED;
}
ret_status_t IMU::getEulerAngles(float* roll, float* pitch, float* yaw) {
    return impl_ ? impl_->getEulerAngles(roll, pitch, yaw) : RET_NOT_INITIALISED;
}
ret_status_t IMU::getRotationVectorData(float* a, float* b, float* c, float* d) {
    return impl_ ? impl_->getRotationVectorData(a, b, c, d) : RET_NOT_INITIALISED;
}
ret_status_t IMU::getRotationVectorAccuracy(float* accuracy, unsigned char* status) {
    return impl_ ? impl_->getRotationVectorAccuracy(accuracy, status) : RET_NOT_INITIALISED;
}
ret_status_t IMU::getRawAccelerometerData(short* x, short* y, short* z) {
    return impl_ ? impl_->getRawAccelerometerData(x, y, z) : RET_NOT_INITIALISED;
}
ret_status_t IMU::getRawGyroData(short* x, short* y, short* z) {
    return impl_ ? impl_->getRawGyroData(x, y, z) : RET_NOT_INITIALISED;
}
ret_status_t IMU::getRawMagnetometerData(short* x, short* y, short* z) {
    return impl_ ? impl_->getRawMagnetometerData(x, y, z) : RET_NOT_INITIALISED;
}

// Tare, calibration and orientation.

ret_status_t IMU::tareAll() { return impl_ ? impl_->sendBare(imu::kTareAll) : RET_NOT_INITIALISED; }
ret_status_t IMU::tareYaw() { return impl_ ? impl_->sendBare(imu::kTareYaw) : RET_NOT_INITIALISED; }
ret_status_t IMU::clearTare() { return impl_ ? impl_->sendBare(imu::kClearTare) : RET_NOT_INITIALISED; }

ret_status_t IMU::startCalibration(bool a, bool b, bool c, bool d) {
    return impl_ ? impl_->startCalibration(a, b, c, d) : RET_NOT_INITIALISED;
}
ret_status_t IMU::stopCalibration() { return impl_ ? impl_->sendBare(imu::kStopCalibration) : RET_NOT_INITIALISED; }
ret_status_t IMU::saveCalibration() { return impl_ ? impl_->sendBare(imu::kSaveCalibration) : RET_NOT_INITIALISED; }
ret_status_t IMU::getCalibrationStatus(bool* status) {
    return impl_ ? impl_->getCalibrationStatus(status) : RET_NOT_INITIALISED;
}
ret_status_t IMU::clearDCD() { return impl_ ? impl_->sendBare(imu::kClearDCD) : RET_NOT_INITIALISED; }

ret_status_t IMU::setOrientation(float a, float b, float c, float d) {
    return impl_ ? impl_->setOrientation(a, b, c, d) : RET_NOT_INITIALISED;
}

// Maintenance.

ret_status_t IMU::saveConfigurations() { return impl_ ? impl_->saveConfigurations() : RET_NOT_INITIALISED; }
ret_status_t IMU::eraseConfigurations() { return impl_ ? impl_->eraseConfigurations() : RET_NOT_INITIALISED; }
ret_status_t IMU::getNodeId(unsigned int* id) { return impl_ ? impl_->getNodeId(id) : RET_NOT_INITIALISED; }
ret_status_t IMU::setNodeId(unsigned int id) { return impl_ ? impl_->setNodeId(id) : RET_NOT_INITIALISED; }
ret_status_t IMU::rebootOrvi() { return impl_ ? impl_->reboot() : RET_NOT_INITIALISED; }
ret_status_t IMU::enterDFUMode() { return impl_ ? impl_->enterDFUMode() : RET_NOT_INITIALISED; }
ret_status_t IMU::getHardwareVersion(unsigned char* a, unsigned char* b, unsigned char* c, unsigned char* d) {
    return impl_ ? impl_->getHardwareVersion(a, b, c, d) : RET_NOT_INITIALISED;
}
ret_status_t IMU::getFirmwareVersion(unsigned char* major, unsigned char* minor, unsigned short* patch) {
    return impl_ ? impl_->getFirmwareVersion(major, minor, patch) : RET_NOT_INITIALISED;
}
ret_status_t IMU::getFirmwareCommit(std::string* commit) {
    return impl_ ? impl_->getFirmwareCommit(commit) : RET_NOT_INITIALISED;
}
