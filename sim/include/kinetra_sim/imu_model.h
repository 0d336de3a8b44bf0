#pragma once
/// @file imu_model.h
/// The physics and firmware state behind a simulated IMU: a rigid body whose
/// orientation changes slowly, the sensors fixed in it, and what the unit's
/// firmware reports from them.

#include <array>
#include <cstdint>

namespace kinetra::sim {

struct Vec3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

/// A rotation as a unit quaternion: real part w, then x, y, z (the order the unit
/// reports and takes its quaternions in).
struct Quat {
    double w = 1.0;
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

Quat operator*(const Quat& a, const Quat& b);
Quat conjugate(const Quat& q);
Quat normalized(const Quat& q);
/// The vector `v` rotated by `q`.
Vec3 rotate(const Quat& q, const Vec3& v);
/// The rotation yaw about z, then pitch about y, then roll about x (degrees).
Quat fromEuler(double roll, double pitch, double yaw);
/// Roll, pitch and yaw in degrees (x, y, z of the result); yaw in -180..180.
Vec3 toEuler(const Quat& q);

/// How the simulated body moves.
struct ImuMotion {
    double yaw_rate = 6.0;  ///< degrees per second
    double roll_amplitude = 20.0;
    double roll_period = 20.0;  ///< seconds
    double pitch_amplitude = 10.0;
    double pitch_period = 30.0;
    double sway_amplitude = 0.3;  ///< m/s^2
    double sway_period = 8.0;
};

/// Units: accelerations in m/s^2, rates in rad/s, the magnetic field in uT,
/// angles in degrees, the rotation vector's accuracy in radians. The world frame
/// has x north, y west and z up.
///
/// The body yaws at a constant rate while it rolls and pitches gently back and
/// forth and sways along the world's x axis. The sensor frame is the body frame;
/// the reporting frame is the sensor frame turned by the mounting orientation
/// (setOrientation), and the reported orientation is further taken relative to
/// the tare reference.
///
/// Not thread-safe: the owning node calls it with its lock held.
class ImuModel {
public:
    static constexpr double kGravity = 9.80665;
    /// Raw sensor counts: accelerometer 4096 per g, gyroscope 16.4 per degree per
    /// second, magnetometer 16 per uT.
    static constexpr double kRawAccelerometerPerMs2 = 4096.0 / kGravity;
    static constexpr double kRawGyroPerRadPerSecond = 16.4 * 57.29577951308232;
    static constexpr double kRawMagnetometerPerMicroTesla = 16.0;
    /// Seconds of calibration per step of magnetometer accuracy.
    static constexpr double kCalibrationStep = 0.5;

    ImuModel() = default;
    explicit ImuModel(const ImuMotion& motion) : motion_(motion) {}

    /// Lets `seconds` of simulated time pass.
    void advance(double seconds);
    double time() const { return time_; }
    const ImuMotion& motion() const { return motion_; }
    /// Changes the motion from now on (test and command-line knob).
    void setMotion(const ImuMotion& motion) { motion_ = motion; }

    /// The body's true orientation in the world, and the true roll, pitch, yaw.
    Quat bodyOrientation() const;
    Vec3 bodyEuler() const;

    // --- Reports, in the reporting frame ----------------------------------------
    /// The reported orientation: mounting and tare applied.
    Quat rotationVector() const;
    /// Roll, pitch, yaw of rotationVector(), degrees.
    Vec3 eulerAngles() const { return toEuler(rotationVector()); }
    double rotationAccuracy() const;
    Vec3 acceleration() const;
    Vec3 linearAcceleration() const;
    Vec3 gravity() const;
    Vec3 gyro() const;
    Vec3 uncalibratedGyro() const;
    Vec3 gyroBias() const;
    Vec3 magnetometer() const;
    /// Raw counts in the sensor frame, uncalibrated.
    std::array<int16_t, 3> rawAccelerometer() const;
    std::array<int16_t, 3> rawGyro() const;
    std::array<int16_t, 3> rawMagnetometer() const;
    /// Status bytes: 0 unreliable to 3 high accuracy.
    uint8_t accelerometerStatus() const { return 3; }
    uint8_t gyroStatus() const { return 3; }
    uint8_t magnetometerStatus() const { return mag_accuracy_; }

    // --- Reports switched on and off ----------------------------------------------
    /// Selector 1-10 as the report command carries it; rate 0 switches it off.
    void setReport(uint8_t selector, uint16_t rate);
    bool reportOn(uint8_t selector) const;
    uint16_t reportRate(uint8_t selector) const;

    // --- Tare, orientation, calibration ------------------------------------------
    void tareAll();
    void tareYaw();
    void clearTare() { tare_ = Quat{}; }
    /// The mounting orientation; quaternions too short to mean a rotation are ignored.
    void setOrientation(const Quat& mounting);
    const Quat& orientation() const { return mounting_; }
    /// Switches the calibration routines on (accelerometer, gyroscope,
    /// magnetometer, planar accelerometer).
    void startCalibration(bool accelerometer, bool gyro, bool magnetometer, bool planar);
    void stopCalibration();
    bool calibrating() const { return calibrate_magnetometer_; }
    /// Keeps the calibration data for the next reboot.
    void saveCalibration() { saved_mag_accuracy_ = mag_accuracy_; }
    /// Drops the dynamic calibration data, live and saved.
    void clearCalibration();
    /// True once the magnetometer is fully calibrated.
    bool calibrated() const { return mag_accuracy_ == 3; }

    // --- Life cycle ---------------------------------------------------------------
    /// Keeps the mounting orientation for the next reboot.
    void save() { saved_mounting_ = mounting_; }
    /// Returns the mounting orientation, live and saved, to the factory value.
    void erase();
    /// Restarts the firmware: reports off, tare cleared, calibration running
    /// stopped, saved orientation and calibration data back.
    void reboot();

private:
    Quat reportingOrientation() const;
    Vec3 toReporting(const Vec3& world) const;
    Vec3 bodyRate() const;
    Vec3 swayAcceleration() const;

    ImuMotion motion_;
    double time_ = 0.0;
    std::array<uint16_t, 11> report_rates_{};
    Quat tare_;
    Quat mounting_;
    Quat saved_mounting_;
    // The unit leaves the factory without dynamic calibration data.
    uint8_t mag_accuracy_ = 0;
    uint8_t saved_mag_accuracy_ = 0;
    bool calibrate_magnetometer_ = false;
    double calibration_time_ = 0.0;
};

}  // namespace kinetra::sim
