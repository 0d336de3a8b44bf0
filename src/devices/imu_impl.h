#pragma once
// The IMU's implementation over the shared device core: its table operations
// run through run(); the sensor reads here convert their fixed-point replies.

#include <kinetra/imu.h>

#include "devices/device_core.h"
#include "devices/device_traits.h"
#include "devices/operation_runner.h"
#include "devices/protocol/imu_operations.h"

#include <cstdint>
#include <string>

struct IMU::IMUImpl : kinetra::DeviceCore<kinetra::ImuTraits> {
    using kinetra::DeviceCore<kinetra::ImuTraits>::DeviceCore;

    /// Any operation of the IMU's table (see protocol/imu_operations.h).
    template <const kinetra::protocol::Operation& Op, typename... A>
    ret_status_t run(A... args) {
        return kinetra::performOperation<Op>(*this, args...);
    }

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

private:
    template <uint8_t Command>
    ret_status_t readScaled(float* x, float* y, float* z);
    template <uint8_t Command>
    ret_status_t readScaledWithStatus(float* x, float* y, float* z, unsigned char* status);
};
