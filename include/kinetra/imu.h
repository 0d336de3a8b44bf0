#pragma once
/// @file imu.h
/// Proxy of one inertial measurement unit node.

#include <kinetra/can_device_type.h>
#include <kinetra/interface.h>
#include <kinetra/types.h>
#include <kinetra/export.h>

#include <ostream>
#include <string>

/// Proxy of one inertial measurement unit node.
///
/// Every operation is one CAN exchange on the caller's thread. Commands return
/// RET_OK once the frame is sent; queries wait up to 200 ms for the reply.
/// Queries on one proxy from several threads take turns; a command is not held
/// back by a waiting query. Never query from an interface callback.
///
/// Two output rules apply after a query was sent. The getters with float outputs
/// (and their status bytes) always write their outputs: on RET_TIMEOUT every
/// output becomes 0. The other getters write their outputs only on RET_OK. When
/// the guard fails (not running, not connected) nothing is sent or written.
///
/// A reply later than the wait is dropped, but it can still answer the next
/// read of the same command on this proxy, with the older value: the protocol
/// carries no sequence number. A reply never answers a read of another command.
/// Another host on the same bus (a monitor, a second program) is no device, and
/// its queries, remote frames, never answer a read; but a data frame it sends
/// with the command of a read in progress cannot be told from the device's
/// reply, just as a late reply cannot (two programs reading the same IMU's
/// rotation vector, whose query is a data frame).
class KINETRA_API IMU : public CANDeviceType {
public:
    /// Selects the sensor report that enable*() and disable*() switch; carried as
    /// the first payload byte of the report command.
    enum sensor_report {
        ENABLE_ROTATION_VECTOR = 1,
        ENABLE_RAW_ACCELEROMETER = 2,
        ENABLE_RAW_GYRO = 3,
        ENABLE_RAW_MAGNETOMETER = 4,
        ENABLE_LINEAR_ACCELEROMETER = 5,
        ENABLE_ACCELEROMETER = 6,
        ENABLE_GYRO = 7,
        ENABLE_MAGNETOMETER = 8,
        ENABLE_UNCALIBRATED_GYRO = 9,
        ENABLE_GRAVITY = 10
    };

    /// Creates the proxy for node `node_id` on `iface`, which must outlive it,
    /// and registers it for the node's frames. Sends nothing.
    IMU(unsigned int node_id, Interface* iface);
    /// Unregisters the proxy; once this returns no frame reaches it.
    ~IMU() override;

    /// Handles one frame routed to this proxy; called by the receive thread.
    void canMsgCallback(can_frame_data* frame) override;

    /// Whether the node is present on the bus (sent a heartbeat within 1.001 s).
    bool isConnected();
    /// Sets this proxy's log sink; nullptr restores the discarding one.
    void setOutputLogStream(std::ostream* stream);

    // Report switching: a report that is off is not answered by the device, so its
    // getter times out. The rate is the device's and is passed through unchanged.
    /// Switches the rotation vector report on at `rate`.
    ret_status_t enableRotationVector(unsigned short rate);
    /// Switches the raw accelerometer report on at `rate`.
    ret_status_t enableRawAccelerometer(unsigned short rate);
    /// Switches the raw gyroscope report on at `rate`.
    ret_status_t enableRawGyro(unsigned short rate);
    /// Switches the raw magnetometer report on at `rate`.
    ret_status_t enableRawMagnetometer(unsigned short rate);
    /// Switches the linear acceleration report on at `rate`.
    ret_status_t enableLinearAccelerometer(unsigned short rate);
    /// Switches the accelerometer report on at `rate`.
    ret_status_t enableAccelerometer(unsigned short rate);
    /// Switches the gyroscope report on at `rate`.
    ret_status_t enableGyro(unsigned short rate);
    /// Switches the magnetometer report on at `rate`.
    ret_status_t enableMagnetometer(unsigned short rate);
    /// Switches the uncalibrated gyroscope report on at `rate`.
    ret_status_t enableUncalibratedGyro(unsigned short rate);
    /// Switches the gravity report on at `rate`.
    ret_status_t enableGravity(unsigned short rate);
    /// Switches the rotation vector report off.
    ret_status_t disableRotationVector();
    /// Switches the raw accelerometer report off.
    ret_status_t disableRawAccelerometer();
    /// Switches the raw gyroscope report off.
    ret_status_t disableRawGyro();
    /// Switches the raw magnetometer report off.
    ret_status_t disableRawMagnetometer();
    /// Switches the linear acceleration report off.
    ret_status_t disableLinearAccelerometer();
    /// Switches the accelerometer report off.
    ret_status_t disableAccelerometer();
    /// Switches the gyroscope report off.
    ret_status_t disableGyro();
    /// Switches the magnetometer report off.
    ret_status_t disableMagnetometer();
    /// Switches the uncalibrated gyroscope report off.
    ret_status_t disableUncalibratedGyro();
    /// Switches the gravity report off.
    ret_status_t disableGravity();

    // Converted sensor reads: fixed-point values converted to float (x 0.01 or
    // x 0.001). On RET_TIMEOUT every output, status byte included, is set to 0.
    /// Reads the accelerometer: three axes and a status byte.
    ret_status_t getAccelerometerData(float* x, float* y, float* z, unsigned char* status);
    /// Reads the calibrated gyroscope: three axes and a status byte.
    ret_status_t getGyroData(float* x, float* y, float* z, unsigned char* status);
    /// Reads the linear acceleration (gravity removed): three axes and a status byte.
    ret_status_t getLinearAccelerometerData(float* x, float* y, float* z, unsigned char* status);
    /// Reads the calibrated magnetometer: three axes and a status byte.
    ret_status_t getMagnetometerData(float* x, float* y, float* z, unsigned char* status);
    /// Reads the gravity vector.
    ret_status_t getGravityData(float* x, float* y, float* z);
    /// Reads the uncalibrated gyroscope.
    ret_status_t getUncalibratedGyroData(float* x, float* y, float* z);
    /// Reads the gyroscope bias the device estimates.
    ret_status_t getUncalibratedGyroBiasData(float* x, float* y, float* z);
    /// Reads the Euler angles computed by the device.
    ret_status_t getEulerAngles(float* roll, float* pitch, float* yaw);
    /// Reads the rotation vector (orientation quaternion), four components.
    ret_status_t getRotationVectorData(float* a, float* b, float* c, float* d);
    /// Reads the rotation vector's accuracy estimate and a status byte.
    ret_status_t getRotationVectorAccuracy(float* accuracy, unsigned char* status);

    // Raw sensor reads: unconverted 16-bit values, written only on RET_OK.
    /// Reads the raw accelerometer.
    ret_status_t getRawAccelerometerData(short* x, short* y, short* z);
    /// Reads the raw gyroscope.
    ret_status_t getRawGyroData(short* x, short* y, short* z);
    /// Reads the raw magnetometer.
    ret_status_t getRawMagnetometerData(short* x, short* y, short* z);

    /// Sets the current orientation as the reference in all axes.
    ret_status_t tareAll();
    /// Sets the current heading as the reference.
    ret_status_t tareYaw();
    /// Drops the tare reference.
    ret_status_t clearTare();

    /// Starts the device's calibration; the meaning of the four flags is the device's.
    ret_status_t startCalibration(bool a, bool b, bool c, bool d);
    /// Stops a running calibration.
    ret_status_t stopCalibration();
    /// Makes the device store its calibration permanently.
    ret_status_t saveCalibration();
    /// Reads the device's calibration status flag; written only on RET_OK.
    ret_status_t getCalibrationStatus(bool* status);
    /// Makes the device drop its dynamic calibration data.
    ret_status_t clearDCD();

    /// Sets the mounting orientation as a quaternion; each component is sent as
    /// trunc(value / 0.001) in 16 bits, without range check or normalisation.
    ret_status_t setOrientation(float a, float b, float c, float d);

    /// Makes the device store its current configuration permanently.
    ret_status_t saveConfigurations();
    /// Makes the device erase its stored configuration.
    ret_status_t eraseConfigurations();
    /// Reads the node identifier the device reports; written only on RET_OK.
    ret_status_t getNodeId(unsigned int* id);
    /// Tells the device its new node identifier; this proxy keeps addressing the old one.
    ret_status_t setNodeId(unsigned int id);
    /// Reboots the device.
    ret_status_t rebootOrvi();
    /// Makes the device enter its firmware-update mode.
    ret_status_t enterDFUMode();
    /// Reads the four hardware version numbers; written only on RET_OK.
    ret_status_t getHardwareVersion(unsigned char* a, unsigned char* b, unsigned char* c, unsigned char* d);
    /// Reads the firmware version; written only on RET_OK.
    ret_status_t getFirmwareVersion(unsigned char* major, unsigned char* minor, unsigned short* patch);
    /// Reads the firmware commit text (up to 8 characters); written only on RET_OK.
    ret_status_t getFirmwareCommit(std::string* commit);

    struct KINETRA_LOCAL IMUImpl;

private:
    // Control cycles reach the proxy through the implementation.
    friend class ControlCycle;
    IMUImpl* impl_;
    Interface* iface_;
};
