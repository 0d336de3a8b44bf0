// The simulated IMU's physics: readings consistent with one orientation, and the
// tare, mounting orientation, calibration and report state the commands change.

#include "kinetra_sim/imu_model.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kinetra::sim {
namespace {

double norm(const Vec3& v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

void expectNear(const Vec3& got, const Vec3& want, double tolerance) {
    EXPECT_NEAR(got.x, want.x, tolerance);
    EXPECT_NEAR(got.y, want.y, tolerance);
    EXPECT_NEAR(got.z, want.z, tolerance);
}

// The angle of the rotation between two orientations, degrees.
double angleBetween(const Quat& a, const Quat& b) {
    const Quat d = conjugate(a) * b;
    const double vector = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
    return 2.0 * std::atan2(vector, std::fabs(d.w)) * 180.0 / M_PI;
}

TEST(ImuModelTest, EulerRoundTripsThroughTheQuaternion) {
    for (const Vec3& e : {Vec3{0, 0, 0}, Vec3{20, -10, 170}, Vec3{-35, 45, -90}, Vec3{5, 80, 30}}) {
        expectNear(toEuler(fromEuler(e.x, e.y, e.z)), e, 1e-9);
    }
}

TEST(ImuModelTest, ReadingsAgreeWithTheOrientationAtEveryMoment) {
    ImuModel model;
    for (int step = 0; step < 40; ++step) {
        SCOPED_TRACE(model.time());
        const Quat q = model.rotationVector();
        // Without mounting or tare the report is the body's true orientation.
        EXPECT_LT(angleBetween(q, model.bodyOrientation()), 1e-6);
        expectNear(model.eulerAngles(), model.bodyEuler(), 1e-6);
        // Gravity is the world's up axis seen from the body, the accelerometer
        // adds the linear acceleration to it, and the field keeps its strength.
        expectNear(model.gravity(), rotate(conjugate(q), Vec3{0, 0, ImuModel::kGravity}), 1e-9);
        const Vec3 sum{model.gravity().x + model.linearAcceleration().x,
                       model.gravity().y + model.linearAcceleration().y,
                       model.gravity().z + model.linearAcceleration().z};
        expectNear(model.acceleration(), sum, 1e-9);
        EXPECT_NEAR(norm(model.magnetometer()), std::sqrt(20.0 * 20 + 45.0 * 45), 1e-9);
        model.advance(0.7);
    }
}

// A sign or frame error in the body rates would turn the orientation the wrong way.
TEST(ImuModelTest, GyroRatesIntegrateToTheNextOrientation) {
    ImuModel model;
    model.advance(3.3);
    const double dt = 1e-4;
    const Quat before = model.bodyOrientation();
    const Vec3 w = model.gyro();
    const Quat step{1.0, w.x * dt / 2, w.y * dt / 2, w.z * dt / 2};
    const Quat predicted = normalized(before * step);
    model.advance(dt);
    EXPECT_LT(angleBetween(predicted, model.bodyOrientation()), 1e-5);
}

TEST(ImuModelTest, RawReadingsAreSensorCountsIncludingOffsets) {
    ImuMotion still;
    still.yaw_rate = 0;
    still.roll_amplitude = 0;
    still.pitch_amplitude = 0;
    still.sway_amplitude = 0;
    ImuModel model(still);
    const auto accel = model.rawAccelerometer();
    EXPECT_EQ(accel[0], 0);
    EXPECT_EQ(accel[2], 4096);  // one g, level
    // At rest the raw gyroscope shows only its bias, which the calibrated one removes.
    const auto gyro = model.rawGyro();
    EXPECT_NEAR(gyro[0], 0.012 * ImuModel::kRawGyroPerRadPerSecond, 1);
    expectNear(model.gyro(), Vec3{}, 1e-12);
    expectNear(model.uncalibratedGyro(), model.gyroBias(), 1e-12);
}

TEST(ImuModelTest, TareMakesTheCurrentOrientationTheReference) {
    ImuModel model;
    model.advance(4.0);
    model.tareAll();
    EXPECT_LT(angleBetween(model.rotationVector(), Quat{}), 1e-9);
    model.advance(2.0);
    const double moved = angleBetween(model.rotationVector(), Quat{});
    EXPECT_GT(moved, 5.0);

    model.tareYaw();
    const Vec3 tared = model.eulerAngles();
    EXPECT_NEAR(tared.z, 0.0, 1e-6);
    EXPECT_NEAR(tared.x, model.bodyEuler().x, 1e-6);
    EXPECT_NEAR(tared.y, model.bodyEuler().y, 1e-6);

    model.clearTare();
    expectNear(model.eulerAngles(), model.bodyEuler(), 1e-6);
}

TEST(ImuModelTest, MountingOrientationTurnsEveryReport) {
    ImuModel model;
    model.advance(2.5);
    const Vec3 gravity = model.gravity();
    const Vec3 gyro = model.gyro();
    // Mounted turned 90 degrees about z: the report's x axis is the body's y axis.
    model.setOrientation(Quat{std::sqrt(0.5), 0, 0, std::sqrt(0.5)});
    expectNear(model.gravity(), Vec3{gravity.y, -gravity.x, gravity.z}, 1e-9);
    expectNear(model.gyro(), Vec3{gyro.y, -gyro.x, gyro.z}, 1e-9);
    EXPECT_NEAR(angleBetween(model.rotationVector(), model.bodyOrientation()), 90.0, 1e-6);
    // A quaternion of zeros means no rotation and is ignored; an unnormalised one is normalised.
    model.setOrientation(Quat{0, 0, 0, 0});
    EXPECT_NEAR(model.orientation().w, std::sqrt(0.5), 1e-12);
    model.setOrientation(Quat{0.999, 0, 0, 0});
    EXPECT_DOUBLE_EQ(model.orientation().w, 1.0);
}

TEST(ImuModelTest, CalibrationRaisesAccuracyAndOnlySavedDataSurvivesAReboot) {
    ImuModel model;
    EXPECT_FALSE(model.calibrated());
    model.startCalibration(false, false, true, false);
    model.advance(3 * ImuModel::kCalibrationStep + 0.01);
    EXPECT_TRUE(model.calibrated());
    EXPECT_EQ(model.magnetometerStatus(), 3);
    EXPECT_LT(model.rotationAccuracy(), 0.05);
    model.reboot();
    EXPECT_FALSE(model.calibrated());

    model.startCalibration(false, false, true, false);
    model.advance(2.0);
    model.saveCalibration();
    model.reboot();
    EXPECT_TRUE(model.calibrated());
    model.clearCalibration();
    EXPECT_FALSE(model.calibrated());
}

TEST(ImuModelTest, ReportsAreOffUntilSwitchedOnAndAfterAReboot) {
    ImuModel model;
    for (uint8_t selector = 0; selector <= 11; ++selector) EXPECT_FALSE(model.reportOn(selector));
    model.setReport(7, 100);
    model.setReport(11, 100);  // no such report
    EXPECT_TRUE(model.reportOn(7));
    EXPECT_EQ(model.reportRate(7), 100);
    EXPECT_FALSE(model.reportOn(11));
    model.setReport(7, 0);
    EXPECT_FALSE(model.reportOn(7));
    model.setReport(1, 50);
    model.reboot();
    EXPECT_FALSE(model.reportOn(1));
}

}  // namespace
}  // namespace kinetra::sim
