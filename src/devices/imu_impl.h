#pragma once
// The IMU's operations over the shared device core. The public IMU class forwards
// every call here once it has checked that this object exists.

#include <kinetra/imu.h>

#include "devices/device_core.h"
#include "devices/device_traits.h"

#include <cstdint>
#include <string>

struct IMU::IMUImpl : kinetra::DeviceCore<kinetra::ImuTraits> {
    using kinetra::DeviceCore<kinetra::ImuTraits>::DeviceCore;

    /// Switches one sensor report on at `rate`, or off (rate 0).
    ret_status_t switchReport(IMU::sensor_report selector, unsigned short rate, bool enable);

    ret_status_t getAccelerometerData(float* x, float* y, float* z, unsigned char* status);
    ret_status_t getGyroData(float* x, float* y, float* z, unsigned char* status);
    ret_status_t getLinearAccelerometerData(float* x, float* y, float* z, unsigned char* status);
    ret_status_t getMagnetometerData(float* x, float* y, float* z, unsigned char* status);
    ret_status_t getGravityData(float* x, float* y, float* z);
    ret_status_t getUncalibratedGyroData(float* x, float* y, float* z);
    ret_status_t getUncalibratedGyroBiasData(float* x, float* y, float* z);
    ret_status_t getEulerAngles(float* roll, float* pitch, float* yaw);
    ret_status_t getRotationVectorData(float* a, float* b, float* c, float* d);
    ret_status_t getRotationVectorAccuracy(float* accuracy, unsigned char* status);

    ret_status_t getRawAccelerometerData(short* x, short* y, short* z);
    ret_status_t getRawGyroData(short* x, short* y, short* z);
    ret_status_t getRawMagnetometerData(short* x, short* y, short* z);

    ret_status_t startCalibration(bool a, bool b, bool c, bool d);
    ret_status_t getCalibrationStatus(bool* status);
    ret_status_t setOrientation(float a, float b, float c, float d);
    /// The send-only commands without payload (tare, calibration control).
    ret_status_t sendBare(uint8_t command);

    ret_status_t getFirmwareCommit(std::string* commit);

private:
    template <uint8_t Command>
    ret_status_t readScaled(float* x, float* y, float* z);
    template <uint8_t Command>
    ret_status_t readScaledWithStatus(float* x, float* y, float* z, unsigned char* status);
};
