// The IMU class: each operation returns its value(s) and raises when it
// fails.

#include <kinetra/imu.h>

#include "bindings.h"
#include "devices/protocol/imu_operations.h"
#include "operation.h"
#include "table_operation.h"
#include "proxy_common.h"

namespace kinetra::python {

void bindImu(py::module_& m) {
    auto cls = bindProxy<IMU>(m, "IMU", "Proxy of one inertial measurement unit node, with the conventions of Driver.");
    // The operations of the class's table, under its names and descriptions.
    KINETRA_IMU_OPERATIONS(KINETRA_BIND_FROM_TABLE, KINETRA_BIND_FROM_TABLE, (IMU, IMU, protocol::imu::imu_ops))
    KINETRA_SENSOR_COMMON_OPERATIONS(KINETRA_BIND_FROM_TABLE, KINETRA_BIND_FROM_TABLE, (IMU, IMU, protocol::sensor_ops))
    py::enum_<IMU::sensor_report>(cls, "sensor_report", "The sensor reports enable*() and disable*() switch.")
        .value("ENABLE_ROTATION_VECTOR", IMU::ENABLE_ROTATION_VECTOR)
        .value("ENABLE_RAW_ACCELEROMETER", IMU::ENABLE_RAW_ACCELEROMETER)
        .value("ENABLE_RAW_GYRO", IMU::ENABLE_RAW_GYRO)
        .value("ENABLE_RAW_MAGNETOMETER", IMU::ENABLE_RAW_MAGNETOMETER)
        .value("ENABLE_LINEAR_ACCELEROMETER", IMU::ENABLE_LINEAR_ACCELEROMETER)
        .value("ENABLE_ACCELEROMETER", IMU::ENABLE_ACCELEROMETER)
        .value("ENABLE_GYRO", IMU::ENABLE_GYRO)
        .value("ENABLE_MAGNETOMETER", IMU::ENABLE_MAGNETOMETER)
        .value("ENABLE_UNCALIBRATED_GYRO", IMU::ENABLE_UNCALIBRATED_GYRO)
        .value("ENABLE_GRAVITY", IMU::ENABLE_GRAVITY)
        .export_values();
}

}  // namespace kinetra::python
