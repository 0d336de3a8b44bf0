// The IMU proxy against the simulated unit through USBInterface and a pty:
// orientation consistent with the simulated motion, reports switched on and off,
// tare, mounting orientation and calibration.

#include <kinetra/imu.h>
#include <kinetra/usb_interface.h>

#include "kinetra_sim/imu_node.h"
#include "kinetra_sim/simulator.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

namespace kinetra::sim {
namespace {

using namespace std::chrono_literals;
constexpr uint32_t kNode = 3;
constexpr unsigned short kRate = 100;
// The body turns by a fraction of a degree while one query is on its way, and the
// rotation vector travels in steps of 0.001: one degree covers both.
constexpr double kAngleTolerance = 1.0;

double wrap180(double degrees) { return degrees - 360.0 * std::floor((degrees + 180.0) / 360.0); }

double angleBetween(const Quat& a, const Quat& b) {
    const Quat d = conjugate(normalized(a)) * normalized(b);
    return 2.0 * std::atan2(std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z), std::fabs(d.w)) * 180.0 / M_PI;
}

class ImuOnSimulator : public ::testing::Test {
protected:
    ImuOnSimulator() : sim_({{NodeKind::Imu, kNode}}) {
        sim_.start();
        sim_.registerAsAdapter();
    }
    ~ImuOnSimulator() override { iface_.closeInterface(); }

    void SetUp() override {
        ASSERT_TRUE(iface_.initInterface(sim_.portName()));
        // Operations refuse until the first send (the host's heartbeat) succeeded.
        ASSERT_TRUE(test::eventually([&] { return iface_.isRunning(); }, 3000ms));
        ASSERT_TRUE(test::eventually([&] { return imu_.isConnected(); }, 3000ms));
    }
    template <typename Fn>
    auto model(Fn fn) {
        return sim_.nodeAs<ImuNode>(kNode).withModel(fn);
    }
    Quat reportedOrientation() {
        float w = 0, x = 0, y = 0, z = 0;
        EXPECT_EQ(imu_.getRotationVectorData(&w, &x, &y, &z), RET_OK);
        return Quat{w, x, y, z};
    }

    Simulator sim_;
    USBInterface iface_;
    IMU imu_{kNode, &iface_};
};

TEST_F(ImuOnSimulator, OrientationAndRatesFollowTheSimulatedMotion) {
    ASSERT_EQ(imu_.enableRotationVector(kRate), RET_OK);
    ASSERT_EQ(imu_.enableGyro(kRate), RET_OK);
    ASSERT_EQ(imu_.enableAccelerometer(kRate), RET_OK);

    const Quat q = reportedOrientation();
    EXPECT_LT(angleBetween(q, model([](ImuModel& m) { return m.bodyOrientation(); })), kAngleTolerance);

    float roll = 0, pitch = 0, yaw = 0;
    ASSERT_EQ(imu_.getEulerAngles(&roll, &pitch, &yaw), RET_OK);
    const Vec3 truth = model([](ImuModel& m) { return m.bodyEuler(); });
    EXPECT_NEAR(wrap180(roll - truth.x), 0.0, kAngleTolerance);
    EXPECT_NEAR(wrap180(pitch - truth.y), 0.0, kAngleTolerance);
    EXPECT_NEAR(wrap180(yaw - truth.z), 0.0, kAngleTolerance);

    float gx = 0, gy = 0, gz = 0;
    unsigned char status = 0;
    ASSERT_EQ(imu_.getGyroData(&gx, &gy, &gz, &status), RET_OK);
    const Vec3 rate = model([](ImuModel& m) { return m.gyro(); });
    EXPECT_NEAR(gx, rate.x, 0.02);
    EXPECT_NEAR(gy, rate.y, 0.02);
    EXPECT_NEAR(gz, rate.z, 0.02);
    EXPECT_EQ(status, 3);

    float ax = 0, ay = 0, az = 0;
    ASSERT_EQ(imu_.getAccelerometerData(&ax, &ay, &az, &status), RET_OK);
    EXPECT_NEAR(std::sqrt(ax * ax + ay * ay + az * az), ImuModel::kGravity, 0.5);

    // Over half a second the heading moves on at the simulated yaw rate.
    const auto start = std::chrono::steady_clock::now();
    float yaw_before = 0, ignored = 0;
    ASSERT_EQ(imu_.getEulerAngles(&ignored, &ignored, &yaw_before), RET_OK);
    std::this_thread::sleep_for(500ms);
    float yaw_after = 0;
    ASSERT_EQ(imu_.getEulerAngles(&ignored, &ignored, &yaw_after), RET_OK);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double yaw_rate = model([](ImuModel& m) { return m.motion().yaw_rate; });
    // The yaw of a rolling, pitching body drifts a little from the turned heading.
    EXPECT_NEAR(wrap180(yaw_after - yaw_before), yaw_rate * elapsed, 1.5);
}

TEST_F(ImuOnSimulator, AReportSwitchedOffMakesItsQueryTimeOut) {
    float w = 7, x = 7, y = 7, z = 7;
    // Reports are off after power-on: the unit does not answer.
    EXPECT_EQ(imu_.getRotationVectorData(&w, &x, &y, &z), RET_TIMEOUT);
    EXPECT_EQ(w, 0.0f);
    ASSERT_EQ(imu_.enableRotationVector(kRate), RET_OK);
    EXPECT_EQ(imu_.getRotationVectorData(&w, &x, &y, &z), RET_OK);
    EXPECT_NEAR(w * w + x * x + y * y + z * z, 1.0, 0.01);
    ASSERT_EQ(imu_.disableRotationVector(), RET_OK);
    EXPECT_EQ(imu_.getRotationVectorData(&w, &x, &y, &z), RET_TIMEOUT);

    short rx = 7, ry = 7, rz = 7;
    EXPECT_EQ(imu_.getRawGyroData(&rx, &ry, &rz), RET_TIMEOUT);
    EXPECT_EQ(rx, 7);
    ASSERT_EQ(imu_.enableRawGyro(kRate), RET_OK);
    EXPECT_EQ(imu_.getRawGyroData(&rx, &ry, &rz), RET_OK);

    // The calibration status needs no report.
    bool calibrated = true;
    EXPECT_EQ(imu_.getCalibrationStatus(&calibrated), RET_OK);
    EXPECT_FALSE(calibrated);
}

TEST_F(ImuOnSimulator, TareOrientationAndCalibrationChangeWhatItReports) {
    ASSERT_EQ(imu_.enableRotationVector(kRate), RET_OK);
    ASSERT_EQ(imu_.enableGravity(kRate), RET_OK);

    ASSERT_EQ(imu_.tareAll(), RET_OK);
    EXPECT_LT(angleBetween(reportedOrientation(), Quat{}), kAngleTolerance);
    ASSERT_EQ(imu_.clearTare(), RET_OK);
    EXPECT_LT(angleBetween(reportedOrientation(), model([](ImuModel& m) { return m.bodyOrientation(); })),
              kAngleTolerance);

    // Mounted turned 90 degrees about z; the unit normalises what it is sent.
    ASSERT_EQ(imu_.setOrientation(0.7071f, 0.0f, 0.0f, 0.7071f), RET_OK);
    float gx = 0, gy = 0, gz = 0;
    ASSERT_EQ(imu_.getGravityData(&gx, &gy, &gz), RET_OK);
    const Quat mounting = model([](ImuModel& m) { return m.orientation(); });
    EXPECT_NEAR(mounting.w, std::sqrt(0.5), 1e-3);
    EXPECT_NEAR(mounting.z, std::sqrt(0.5), 1e-3);
    const Vec3 gravity = model([](ImuModel& m) { return m.gravity(); });
    EXPECT_NEAR(gx, gravity.x, 0.05);
    EXPECT_NEAR(gy, gravity.y, 0.05);
    EXPECT_NEAR(gz, gravity.z, 0.05);
    const Quat reported = reportedOrientation();
    EXPECT_NEAR(angleBetween(reported, model([](ImuModel& m) { return m.bodyOrientation(); })), 90.0,
                kAngleTolerance);

    ASSERT_EQ(imu_.startCalibration(true, true, true, false), RET_OK);
    bool calibrated = true;
    ASSERT_EQ(imu_.getCalibrationStatus(&calibrated), RET_OK);
    EXPECT_FALSE(calibrated);
    model([](ImuModel& m) { m.advance(2.0); });  // two simulated seconds of calibration motion
    ASSERT_EQ(imu_.getCalibrationStatus(&calibrated), RET_OK);
    EXPECT_TRUE(calibrated);
    ASSERT_EQ(imu_.clearDCD(), RET_OK);
    ASSERT_EQ(imu_.stopCalibration(), RET_OK);
    ASSERT_EQ(imu_.getCalibrationStatus(&calibrated), RET_OK);
    EXPECT_FALSE(calibrated);
}

}  // namespace
}  // namespace kinetra::sim
