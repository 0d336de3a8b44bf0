// The IMU class: every operation returns its status, a read the status and
// its values as one tuple.

#include <kinetra/imu.h>

#include "bindings.h"
#include "operation.h"
#include "proxy_common.h"

namespace kinetra::python {

void bindImu(py::module_& m) {
    auto cls = bindProxy<IMU>(m, "IMU", "Proxy of one inertial measurement unit node, with the conventions of Driver. After a read "
                             "timed out, the float reads report zeros.");
    cls.def("enableRotationVector", operation<&IMU::enableRotationVector>(), py::arg("rate"),
            "Switches the rotation vector report on at `rate`.");
    cls.def("enableRawAccelerometer", operation<&IMU::enableRawAccelerometer>(), py::arg("rate"),
            "Switches the raw accelerometer report on at `rate`.");
    cls.def("enableRawGyro", operation<&IMU::enableRawGyro>(), py::arg("rate"),
            "Switches the raw gyroscope report on at `rate`.");
    cls.def("enableRawMagnetometer", operation<&IMU::enableRawMagnetometer>(), py::arg("rate"),
            "Switches the raw magnetometer report on at `rate`.");
    cls.def("enableLinearAccelerometer", operation<&IMU::enableLinearAccelerometer>(), py::arg("rate"),
            "Switches the linear acceleration report on at `rate`.");
    cls.def("enableAccelerometer", operation<&IMU::enableAccelerometer>(), py::arg("rate"),
            "Switches the accelerometer report on at `rate`.");
    cls.def("enableGyro", operation<&IMU::enableGyro>(), py::arg("rate"),
            "Switches the gyroscope report on at `rate`.");
    cls.def("enableMagnetometer", operation<&IMU::enableMagnetometer>(), py::arg("rate"),
            "Switches the magnetometer report on at `rate`.");
    cls.def("enableUncalibratedGyro", operation<&IMU::enableUncalibratedGyro>(), py::arg("rate"),
            "Switches the uncalibrated gyroscope report on at `rate`.");
    cls.def("enableGravity", operation<&IMU::enableGravity>(), py::arg("rate"),
            "Switches the gravity report on at `rate`.");
    cls.def("disableRotationVector", operation<&IMU::disableRotationVector>(),
            "Switches the rotation vector report off.");
    cls.def("disableRawAccelerometer", operation<&IMU::disableRawAccelerometer>(),
            "Switches the raw accelerometer report off.");
    cls.def("disableRawGyro", operation<&IMU::disableRawGyro>(),
            "Switches the raw gyroscope report off.");
    cls.def("disableRawMagnetometer", operation<&IMU::disableRawMagnetometer>(),
            "Switches the raw magnetometer report off.");
    cls.def("disableLinearAccelerometer", operation<&IMU::disableLinearAccelerometer>(),
            "Switches the linear acceleration report off.");
    cls.def("disableAccelerometer", operation<&IMU::disableAccelerometer>(),
            "Switches the accelerometer report off.");
    cls.def("disableGyro", operation<&IMU::disableGyro>(),
            "Switches the gyroscope report off.");
    cls.def("disableMagnetometer", operation<&IMU::disableMagnetometer>(),
            "Switches the magnetometer report off.");
    cls.def("disableUncalibratedGyro", operation<&IMU::disableUncalibratedGyro>(),
            "Switches the uncalibrated gyroscope report off.");
    cls.def("disableGravity", operation<&IMU::disableGravity>(),
            "Switches the gravity report off.");
    cls.def("getAccelerometerData", operation<&IMU::getAccelerometerData>(),
            "Reads the accelerometer: three axes and a status byte.");
    cls.def("getGyroData", operation<&IMU::getGyroData>(),
            "Reads the calibrated gyroscope: three axes and a status byte.");
    cls.def("getLinearAccelerometerData", operation<&IMU::getLinearAccelerometerData>(),
            "Reads the linear acceleration (gravity removed): three axes and a status byte.");
    cls.def("getMagnetometerData", operation<&IMU::getMagnetometerData>(),
            "Reads the calibrated magnetometer: three axes and a status byte.");
    cls.def("getGravityData", operation<&IMU::getGravityData>(),
            "Reads the gravity vector.");
    cls.def("getUncalibratedGyroData", operation<&IMU::getUncalibratedGyroData>(),
            "Reads the uncalibrated gyroscope.");
    cls.def("getUncalibratedGyroBiasData", operation<&IMU::getUncalibratedGyroBiasData>(),
            "Reads the gyroscope bias the device estimates.");
    cls.def("getEulerAngles", operation<&IMU::getEulerAngles>(),
            "Reads the Euler angles computed by the device.");
    cls.def("getRotationVectorData", operation<&IMU::getRotationVectorData>(),
            "Reads the rotation vector (orientation quaternion), four components.");
    cls.def("getRotationVectorAccuracy", operation<&IMU::getRotationVectorAccuracy>(),
            "Reads the rotation vector's accuracy estimate and a status byte.");
    cls.def("getRawAccelerometerData", operation<&IMU::getRawAccelerometerData>(),
            "Reads the raw accelerometer.");
    cls.def("getRawGyroData", operation<&IMU::getRawGyroData>(),
            "Reads the raw gyroscope.");
    cls.def("getRawMagnetometerData", operation<&IMU::getRawMagnetometerData>(),
            "Reads the raw magnetometer.");
    cls.def("tareAll", operation<&IMU::tareAll>(),
            "Sets the current orientation as the reference in all axes.");
    cls.def("tareYaw", operation<&IMU::tareYaw>(),
            "Sets the current heading as the reference.");
    cls.def("clearTare", operation<&IMU::clearTare>(),
            "Drops the tare reference.");
    cls.def("startCalibration", operation<&IMU::startCalibration>(), py::arg("a"), py::arg("b"), py::arg("c"), py::arg("d"),
            "Starts the device's calibration; the meaning of the four flags is the device's.");
    cls.def("stopCalibration", operation<&IMU::stopCalibration>(),
            "Stops a running calibration.");
    cls.def("saveCalibration", operation<&IMU::saveCalibration>(),
            "Makes the device store its calibration permanently.");
    cls.def("getCalibrationStatus", operation<&IMU::getCalibrationStatus>(),
            "Reads the device's calibration status flag; written only on RET_OK.");
    cls.def("clearDCD", operation<&IMU::clearDCD>(),
            "Makes the device drop its dynamic calibration data.");
    cls.def("setOrientation", operation<&IMU::setOrientation>(), py::arg("a"), py::arg("b"), py::arg("c"), py::arg("d"),
            "Sets the mounting orientation as a quaternion; each component is sent as trunc(value / 0.001) in 16 bits, without range check or normalisation.");
    cls.def("saveConfigurations", operation<&IMU::saveConfigurations>(),
            "Makes the device store its current configuration permanently.");
    cls.def("eraseConfigurations", operation<&IMU::eraseConfigurations>(),
            "Makes the device erase its stored configuration.");
    cls.def("getNodeId", operation<&IMU::getNodeId>(),
            "Reads the node identifier the device reports; written only on RET_OK.");
    cls.def("setNodeId", operation<&IMU::setNodeId>(), py::arg("id"),
            "Tells the device its new node identifier; this proxy keeps addressing the old one.");
    cls.def("rebootOrvi", operation<&IMU::rebootOrvi>(),
            "Reboots the device.");
    cls.def("enterDFUMode", operation<&IMU::enterDFUMode>(),
            "Makes the device enter its firmware-update mode.");
    cls.def("getHardwareVersion", operation<&IMU::getHardwareVersion>(),
            "Reads the four hardware version numbers; written only on RET_OK.");
    cls.def("getFirmwareVersion", operation<&IMU::getFirmwareVersion>(),
            "Reads the firmware version; written only on RET_OK.");
    cls.def("getFirmwareCommit", operation<&IMU::getFirmwareCommit>(),
            "Reads the firmware commit text (up to 8 characters); written only on RET_OK.");
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
