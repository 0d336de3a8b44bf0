#include "kinetra_sim/imu_model.h"

#include "sim_math.h"

#include <algorithm>
#include <cmath>

namespace kinetra::sim {
namespace {

constexpr double kRadPerDegree = kPi / 180.0;

// The earth's field where the simulated unit sits: 20 uT towards north, 45 uT down.
constexpr Vec3 kEarthField{20.0, 0.0, -45.0};
// Gyroscope bias and the magnetometer's hard-iron offset, in the sensor frame.
constexpr Vec3 kGyroBias{0.012, -0.008, 0.004};
constexpr Vec3 kHardIron{12.0, -7.0, 5.0};
// Accuracy of the rotation vector per magnetometer accuracy level, radians.
constexpr double kRotationAccuracy[4] = {0.5236, 0.2618, 0.0873, 0.0349};

Vec3 operator+(const Vec3& a, const Vec3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 operator*(double k, const Vec3& v) { return {k * v.x, k * v.y, k * v.z}; }
Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

double wrap180(double degrees) {
    const double wrapped = degrees - 360.0 * std::floor((degrees + 180.0) / 360.0);
    return wrapped;
}

int16_t saturate(double value) {
    const double rounded = std::round(value);
    if (!(rounded > -32768.0)) return -32768;
    if (rounded > 32767.0) return 32767;
    return static_cast<int16_t>(rounded);
}

std::array<int16_t, 3> counts(const Vec3& v, double per_unit) {
    return {saturate(v.x * per_unit), saturate(v.y * per_unit), saturate(v.z * per_unit)};
}

// q and -q are the same rotation; the unit reports the one with w >= 0.
Quat canonical(const Quat& q) { return q.w < 0.0 ? Quat{-q.w, -q.x, -q.y, -q.z} : q; }

}  // namespace

Quat operator*(const Quat& a, const Quat& b) {
    return {a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z, a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
            a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x, a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w};
}

Quat conjugate(const Quat& q) { return {q.w, -q.x, -q.y, -q.z}; }

Quat normalized(const Quat& q) {
    const double norm = std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
    if (!(norm > 0.0)) return Quat{};
    return {q.w / norm, q.x / norm, q.y / norm, q.z / norm};
}

Vec3 rotate(const Quat& q, const Vec3& v) {
    const Vec3 axis{q.x, q.y, q.z};
    const Vec3 t = 2.0 * cross(axis, v);
    return v + q.w * t + cross(axis, t);
}

Quat fromEuler(double roll, double pitch, double yaw) {
    const double cr = std::cos(roll * kRadPerDegree / 2), sr = std::sin(roll * kRadPerDegree / 2);
    const double cp = std::cos(pitch * kRadPerDegree / 2), sp = std::sin(pitch * kRadPerDegree / 2);
    const double cy = std::cos(yaw * kRadPerDegree / 2), sy = std::sin(yaw * kRadPerDegree / 2);
    return {cr * cp * cy + sr * sp * sy, sr * cp * cy - cr * sp * sy, cr * sp * cy + sr * cp * sy,
            cr * cp * sy - sr * sp * cy};
}

Vec3 toEuler(const Quat& q) {
    const double roll = std::atan2(2 * (q.w * q.x + q.y * q.z), 1 - 2 * (q.x * q.x + q.y * q.y));
    const double pitch = std::asin(std::clamp(2 * (q.w * q.y - q.z * q.x), -1.0, 1.0));
    const double yaw = std::atan2(2 * (q.w * q.z + q.x * q.y), 1 - 2 * (q.y * q.y + q.z * q.z));
    return {roll / kRadPerDegree, pitch / kRadPerDegree, yaw / kRadPerDegree};
}

void ImuModel::advance(double seconds) {
    if (!(seconds > 0.0)) return;
    time_ += seconds;
    if (!calibrate_magnetometer_) return;
    calibration_time_ += seconds;
    while (calibration_time_ >= kCalibrationStep && mag_accuracy_ < 3) {
        calibration_time_ -= kCalibrationStep;
        ++mag_accuracy_;
    }
}

Vec3 ImuModel::bodyEuler() const {
    const double roll = motion_.roll_amplitude * std::sin(2 * kPi * time_ / motion_.roll_period);
    const double pitch = motion_.pitch_amplitude * std::sin(2 * kPi * time_ / motion_.pitch_period);
    return {roll, pitch, wrap180(motion_.yaw_rate * time_)};
}

Quat ImuModel::bodyOrientation() const {
    const Vec3 euler = bodyEuler();
    return fromEuler(euler.x, euler.y, euler.z);
}

Vec3 ImuModel::bodyRate() const {
    // Body rates from the rates of the three angles (yaw, then pitch, then roll).
    const Vec3 euler = bodyEuler();
    const double roll = euler.x * kRadPerDegree;
    const double pitch = euler.y * kRadPerDegree;
    const double roll_rate = motion_.roll_amplitude * kRadPerDegree * (2 * kPi / motion_.roll_period) *
                             std::cos(2 * kPi * time_ / motion_.roll_period);
    const double pitch_rate = motion_.pitch_amplitude * kRadPerDegree * (2 * kPi / motion_.pitch_period) *
                              std::cos(2 * kPi * time_ / motion_.pitch_period);
    const double yaw_rate = motion_.yaw_rate * kRadPerDegree;
    return {roll_rate - yaw_rate * std::sin(pitch),
            pitch_rate * std::cos(roll) + yaw_rate * std::sin(roll) * std::cos(pitch),
            -pitch_rate * std::sin(roll) + yaw_rate * std::cos(roll) * std::cos(pitch)};
}

Vec3 ImuModel::swayAcceleration() const {
    return {motion_.sway_amplitude * std::sin(2 * kPi * time_ / motion_.sway_period), 0.0, 0.0};
}

Quat ImuModel::reportingOrientation() const { return bodyOrientation() * mounting_; }

Vec3 ImuModel::toReporting(const Vec3& world) const { return rotate(conjugate(reportingOrientation()), world); }

Quat ImuModel::rotationVector() const { return canonical(normalized(conjugate(tare_) * reportingOrientation())); }

double ImuModel::rotationAccuracy() const { return kRotationAccuracy[std::min<uint8_t>(mag_accuracy_, 3)]; }

Vec3 ImuModel::acceleration() const { return toReporting(swayAcceleration() + Vec3{0.0, 0.0, kGravity}); }

Vec3 ImuModel::linearAcceleration() const { return toReporting(swayAcceleration()); }

Vec3 ImuModel::gravity() const { return toReporting(Vec3{0.0, 0.0, kGravity}); }

Vec3 ImuModel::gyro() const { return rotate(conjugate(mounting_), bodyRate()); }

Vec3 ImuModel::uncalibratedGyro() const { return rotate(conjugate(mounting_), bodyRate() + kGyroBias); }

Vec3 ImuModel::gyroBias() const { return rotate(conjugate(mounting_), kGyroBias); }

Vec3 ImuModel::magnetometer() const { return toReporting(kEarthField); }

std::array<int16_t, 3> ImuModel::rawAccelerometer() const {
    const Vec3 force = rotate(conjugate(bodyOrientation()), swayAcceleration() + Vec3{0.0, 0.0, kGravity});
    return counts(force, kRawAccelerometerPerMs2);
}

std::array<int16_t, 3> ImuModel::rawGyro() const { return counts(bodyRate() + kGyroBias, kRawGyroPerRadPerSecond); }

std::array<int16_t, 3> ImuModel::rawMagnetometer() const {
    const Vec3 field = rotate(conjugate(bodyOrientation()), kEarthField) + kHardIron;
    return counts(field, kRawMagnetometerPerMicroTesla);
}

void ImuModel::setReport(uint8_t selector, uint16_t rate) {
    if (selector >= 1 && selector < report_rates_.size()) report_rates_[selector] = rate;
}

bool ImuModel::reportOn(uint8_t selector) const { return reportRate(selector) != 0; }

uint16_t ImuModel::reportRate(uint8_t selector) const {
    return selector < report_rates_.size() ? report_rates_[selector] : 0;
}

void ImuModel::tareAll() { tare_ = reportingOrientation(); }

void ImuModel::tareYaw() { tare_ = fromEuler(0.0, 0.0, toEuler(reportingOrientation()).z); }

void ImuModel::setOrientation(const Quat& mounting) {
    const double norm =
        std::sqrt(mounting.w * mounting.w + mounting.x * mounting.x + mounting.y * mounting.y + mounting.z * mounting.z);
    if (norm > 0.5) mounting_ = normalized(mounting);
}

void ImuModel::startCalibration(bool /*accelerometer*/, bool /*gyro*/, bool magnetometer, bool /*planar*/) {
    // The accelerometer and gyroscope are factory-calibrated in this unit; only
    // the magnetometer has something to learn.
    calibrate_magnetometer_ = magnetometer;
    calibration_time_ = 0.0;
}

void ImuModel::stopCalibration() { calibrate_magnetometer_ = false; }

void ImuModel::clearCalibration() {
    mag_accuracy_ = 0;
    saved_mag_accuracy_ = 0;
    calibration_time_ = 0.0;
}

void ImuModel::erase() {
    mounting_ = Quat{};
    saved_mounting_ = Quat{};
}

void ImuModel::reboot() {
    report_rates_.fill(0);
    tare_ = Quat{};
    calibrate_magnetometer_ = false;
    mounting_ = saved_mounting_;
    mag_accuracy_ = saved_mag_accuracy_;
}

}  // namespace kinetra::sim
