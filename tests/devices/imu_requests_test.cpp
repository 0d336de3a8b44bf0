// Every IMU operation's request frame: identifier, remote flag, DLC and payload.

#include <kinetra/imu.h>

#include "devices/protocol/imu_protocol.h"
#include "sensor_node_fixture.h"

#include <functional>
#include <string>

namespace {

using kinetra::test::ExpectedRequest;
using kinetra::test::ScriptedDevice;
using kinetra::test::kImuType;
namespace imu = kinetra::protocol::imu;

using RequestCase = kinetra::test::SensorRequestCase<IMU>;

constexpr bool kRemote = true;
constexpr bool kData = false;

// Outputs of the queries; their values do not matter here.
float f1, f2, f3, f4;
short s1, s2, s3;
unsigned char b1, b2, b3, b4;
unsigned short u16;
unsigned int u32;
bool flag;
std::string text;

std::vector<RequestCase> reportSwitchingCases() {
    // Report command: selector, rate 100 (0x64) little-endian; the DLC is per method.
    return {
        {"enableRotationVector", [](IMU& d) { return d.enableRotationVector(100); }, {0x3F, kData, 3, {1, 0x64}}},
        {"enableRawAccelerometer", [](IMU& d) { return d.enableRawAccelerometer(100); }, {0x3F, kData, 3, {2, 0x64}}},
        {"enableRawGyro", [](IMU& d) { return d.enableRawGyro(100); }, {0x3F, kData, 3, {3, 0x64}}},
        {"enableRawMagnetometer", [](IMU& d) { return d.enableRawMagnetometer(100); }, {0x3F, kData, 3, {4, 0x64}}},
        {"enableLinearAccelerometer", [](IMU& d) { return d.enableLinearAccelerometer(100); },
         {0x3F, kData, 8, {5, 0x64}}},
        {"enableAccelerometer", [](IMU& d) { return d.enableAccelerometer(100); }, {0x3F, kData, 8, {6, 0x64}}},
        {"enableGyro", [](IMU& d) { return d.enableGyro(100); }, {0x3F, kData, 8, {7, 0x64}}},
        {"enableMagnetometer", [](IMU& d) { return d.enableMagnetometer(100); }, {0x3F, kData, 8, {8, 0x64}}},
        {"enableUncalibratedGyro", [](IMU& d) { return d.enableUncalibratedGyro(100); }, {0x3F, kData, 3, {9, 0x64}}},
        {"enableGravity", [](IMU& d) { return d.enableGravity(0x1234); }, {0x3F, kData, 3, {10, 0x34, 0x12}}},
        {"disableRotationVector", [](IMU& d) { return d.disableRotationVector(); }, {0x3F, kData, 3, {1}}},
        {"disableRawAccelerometer", [](IMU& d) { return d.disableRawAccelerometer(); }, {0x3F, kData, 8, {2}}},
        {"disableRawGyro", [](IMU& d) { return d.disableRawGyro(); }, {0x3F, kData, 8, {3}}},
        {"disableRawMagnetometer", [](IMU& d) { return d.disableRawMagnetometer(); }, {0x3F, kData, 8, {4}}},
        {"disableLinearAccelerometer", [](IMU& d) { return d.disableLinearAccelerometer(); }, {0x3F, kData, 8, {5}}},
        {"disableAccelerometer", [](IMU& d) { return d.disableAccelerometer(); }, {0x3F, kData, 8, {6}}},
        {"disableGyro", [](IMU& d) { return d.disableGyro(); }, {0x3F, kData, 8, {7}}},
        {"disableMagnetometer", [](IMU& d) { return d.disableMagnetometer(); }, {0x3F, kData, 8, {8}}},
        {"disableUncalibratedGyro", [](IMU& d) { return d.disableUncalibratedGyro(); }, {0x3F, kData, 8, {9}}},
        {"disableGravity", [](IMU& d) { return d.disableGravity(); }, {0x3F, kData, 8, {10}}},
    };
}

std::vector<RequestCase> imuCommandCases() {
    return {
        // 1.0 / 0.001 in single precision is 999.99994, truncated to 999.
        {"setOrientation unit", [](IMU& d) { return d.setOrientation(1.0f, 0.0f, 0.0f, 0.0f); },
         {0x40, kData, 8, {0xE7, 0x03}}},
        {"setOrientation mixed", [](IMU& d) { return d.setOrientation(0.5f, 0.1f, 0.001f, -1.0f); },
         {0x40, kData, 8, {0xF3, 0x01, 0x64, 0x00, 0x01, 0x00, 0x19, 0xFC}}},
        // Out of the 16-bit range: the low 16 bits of the truncated integer (40000).
        {"setOrientation wraps", [](IMU& d) { return d.setOrientation(40.0005f, 0.0f, 0.0f, 0.0f); },
         {0x40, kData, 8, {0x40, 0x9C}}},
        {"startCalibration", [](IMU& d) { return d.startCalibration(true, false, true, true); },
         {0x4F, kData, 1, {0x0D}}},
        {"stopCalibration", [](IMU& d) { return d.stopCalibration(); }, {0x50, kData, 0, {}}},
        {"saveCalibration", [](IMU& d) { return d.saveCalibration(); }, {0x51, kData, 0, {}}},
        {"clearDCD", [](IMU& d) { return d.clearDCD(); }, {0x52, kData, 0, {}}},
        {"tareYaw", [](IMU& d) { return d.tareYaw(); }, {0x5F, kData, 0, {}}},
        {"tareAll", [](IMU& d) { return d.tareAll(); }, {0x60, kData, 0, {}}},
        {"clearTare", [](IMU& d) { return d.clearTare(); }, {0x61, kData, 0, {}}},
        {"setNodeId", [](IMU& d) { return d.setNodeId(0x12345); }, {0x09, kData, 4, {0x45, 0x23, 0x01}}},
        {"rebootOrvi", [](IMU& d) { return d.rebootOrvi(); }, {0x71, kRemote, 0, {}}},
        {"saveConfigurations", [](IMU& d) { return d.saveConfigurations(); }, {0x72, kData, 0, {}}},
        {"eraseConfigurations", [](IMU& d) { return d.eraseConfigurations(); }, {0x73, kData, 0, {}}},
        {"enterDFUMode", [](IMU& d) { return d.enterDFUMode(); }, {0x7F, kData, 0, {}}},
    };
}

std::vector<RequestCase> queryCases() {
    return {
        {"getHardwareVersion", [](IMU& d) { return d.getHardwareVersion(&b1, &b2, &b3, &b4); }, {0x03, kRemote, 8, {}}},
        {"getFirmwareVersion", [](IMU& d) { return d.getFirmwareVersion(&b1, &b2, &u16); }, {0x04, kRemote, 8, {}}},
        {"getFirmwareCommit", [](IMU& d) { return d.getFirmwareCommit(&text); }, {0x05, kRemote, 8, {}}},
        {"getNodeId", [](IMU& d) { return d.getNodeId(&u32); }, {0x0A, kRemote, 8, {}}},
        // The two rotation-vector queries are data frames of eight zero bytes.
        {"getRotationVectorData", [](IMU& d) { return d.getRotationVectorData(&f1, &f2, &f3, &f4); },
         {0x20, kData, 8, {}}},
        {"getRawAccelerometerData", [](IMU& d) { return d.getRawAccelerometerData(&s1, &s2, &s3); },
         {0x21, kRemote, 8, {}}},
        {"getRawGyroData", [](IMU& d) { return d.getRawGyroData(&s1, &s2, &s3); }, {0x22, kRemote, 8, {}}},
        {"getRawMagnetometerData", [](IMU& d) { return d.getRawMagnetometerData(&s1, &s2, &s3); },
         {0x23, kRemote, 8, {}}},
        {"getLinearAccelerometerData", [](IMU& d) { return d.getLinearAccelerometerData(&f1, &f2, &f3, &b1); },
         {0x24, kRemote, 8, {}}},
        {"getAccelerometerData", [](IMU& d) { return d.getAccelerometerData(&f1, &f2, &f3, &b1); },
         {0x25, kRemote, 8, {}}},
        {"getGyroData", [](IMU& d) { return d.getGyroData(&f1, &f2, &f3, &b1); }, {0x26, kRemote, 8, {}}},
        {"getUncalibratedGyroData", [](IMU& d) { return d.getUncalibratedGyroData(&f1, &f2, &f3); },
         {0x27, kRemote, 8, {}}},
        {"getUncalibratedGyroBiasData", [](IMU& d) { return d.getUncalibratedGyroBiasData(&f1, &f2, &f3); },
         {0x28, kRemote, 8, {}}},
        {"getMagnetometerData", [](IMU& d) { return d.getMagnetometerData(&f1, &f2, &f3, &b1); },
         {0x29, kRemote, 8, {}}},
        {"getEulerAngles", [](IMU& d) { return d.getEulerAngles(&f1, &f2, &f3); }, {0x2A, kRemote, 8, {}}},
        {"getGravityData", [](IMU& d) { return d.getGravityData(&f1, &f2, &f3); }, {0x2B, kRemote, 8, {}}},
        {"getCalibrationStatus", [](IMU& d) { return d.getCalibrationStatus(&flag); }, {0x2C, kRemote, 8, {}}},
        {"getRotationVectorAccuracy", [](IMU& d) { return d.getRotationVectorAccuracy(&f1, &b1); },
         {0x2D, kData, 8, {}}},
    };
}

class ImuRequestTest : public kinetra::test::SensorNodeTest {
protected:
    void check(const std::vector<RequestCase>& cases) { checkRequests<IMU>(kImuType, imu::kImuRoutes, cases); }
};

TEST_F(ImuRequestTest, ReportSwitchingCarriesSelectorRateAndPerMethodLength) { check(reportSwitchingCases()); }

TEST_F(ImuRequestTest, CommandsCarryTheirPayloads) { check(imuCommandCases()); }

TEST_F(ImuRequestTest, QueriesAreRemoteFramesExceptTheRotationVector) { check(queryCases()); }

TEST_F(ImuRequestTest, GuardRefusesAndSendsNothing) {
    IMU proxy(kNode, &bus);
    float x = 5.0f;
    unsigned char status = 5;
    EXPECT_EQ(proxy.enableGyro(10), RET_NOT_CONNECTED);
    // A failed guard sent no query, so even a converted getter leaves its outputs.
    EXPECT_EQ(proxy.getAccelerometerData(&x, &x, &x, &status), RET_NOT_CONNECTED);
    EXPECT_EQ(x, 5.0f);
    EXPECT_EQ(status, 5);

    ScriptedDevice device(bus, kNode, kImuType);
    waitPresent();
    bus.setSendFails(true);
    can_frame_data probe{};
    bus.sendFrame(&probe);  // the failed send makes the interface not running
    EXPECT_EQ(proxy.setOrientation(1, 0, 0, 0), RET_NOT_RUNNING);
    EXPECT_EQ(proxy.getEulerAngles(&x, &x, &x), RET_NOT_RUNNING);
    EXPECT_EQ(x, 5.0f);
    EXPECT_TRUE(requestsTo().empty());
}

}  // namespace
