// IMU reply decoding and fixed-point scaling, and the two output rules when the
// reply does not come.

#include <kinetra/imu.h>

#include "devices/protocol/imu_protocol.h"
#include "sensor_node_fixture.h"

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace {

using kinetra::test::ScriptedDevice;
using kinetra::test::kImuType;
namespace imu = kinetra::protocol::imu;

// A getter's result with its outputs flattened to doubles (status bytes included).
struct Outcome {
    ret_status_t status;
    std::vector<double> outputs;
};
using Getter = std::function<Outcome(IMU&)>;

// Each getter starts from outputs preset to 7, so that untouched outputs show.
Outcome triple(IMU& d, ret_status_t (IMU::*get)(float*, float*, float*)) {
    float x = 7, y = 7, z = 7;
    const ret_status_t s = (d.*get)(&x, &y, &z);
    return {s, {x, y, z}};
}
Outcome tripleWithStatus(IMU& d, ret_status_t (IMU::*get)(float*, float*, float*, unsigned char*)) {
    float x = 7, y = 7, z = 7;
    unsigned char status = 7;
    const ret_status_t s = (d.*get)(&x, &y, &z, &status);
    return {s, {x, y, z, double(status)}};
}
Outcome rawTriple(IMU& d, ret_status_t (IMU::*get)(short*, short*, short*)) {
    short x = 7, y = 7, z = 7;
    const ret_status_t s = (d.*get)(&x, &y, &z);
    return {s, {double(x), double(y), double(z)}};
}
Outcome rotationVector(IMU& d) {
    float a = 7, b = 7, c = 7, e = 7;
    const ret_status_t s = d.getRotationVectorData(&a, &b, &c, &e);
    return {s, {a, b, c, e}};
}
Outcome rotationAccuracy(IMU& d) {
    float accuracy = 7;
    unsigned char status = 7;
    const ret_status_t s = d.getRotationVectorAccuracy(&accuracy, &status);
    return {s, {accuracy, double(status)}};
}
Outcome calibrationStatus(IMU& d) {
    bool flag = true;
    const ret_status_t s = d.getCalibrationStatus(&flag);
    return {s, {double(flag)}};
}
Outcome nodeId(IMU& d) {
    unsigned int id = 7;
    const ret_status_t s = d.getNodeId(&id);
    return {s, {double(id)}};
}
Outcome hardwareVersion(IMU& d) {
    unsigned char a = 7, b = 7, c = 7, e = 7;
    const ret_status_t s = d.getHardwareVersion(&a, &b, &c, &e);
    return {s, {double(a), double(b), double(c), double(e)}};
}
Outcome firmwareVersion(IMU& d) {
    unsigned char major = 7, minor = 7;
    unsigned short patch = 7;
    const ret_status_t s = d.getFirmwareVersion(&major, &minor, &patch);
    return {s, {double(major), double(minor), double(patch)}};
}

struct ReplyCase {
    std::string name;
    uint8_t command;
    std::vector<uint8_t> reply;
    Getter get;
    std::vector<double> expected;
    bool exact;  ///< compare bit for bit instead of within 4 ulps
};

std::vector<ReplyCase> replyCases() {
    using namespace std::placeholders;
    return {
        {"gyro 10000, -10000, 0, status 3", imu::kGetGyroData, {0x10, 0x27, 0xF0, 0xD8, 0x00, 0x00, 0x03, 0x00},
         std::bind(tripleWithStatus, _1, &IMU::getGyroData), {100.0, -100.0, 0.0, 3}, true},
        {"rotation vector 1000, 0, 0, 0", imu::kGetRotationVectorData, {0xE8, 0x03},
         rotationVector, {1.0, 0.0, 0.0, 0.0}, true},
        {"rotation vector signs", imu::kGetRotationVectorData, {0x18, 0xFC, 0xFF, 0xFF, 0xF4, 0x01, 0xFF, 0x7F},
         rotationVector, {-1.0, -0.001, 0.5, 32.767}, false},
        {"accelerometer", imu::kGetAccelerometerData, {0xD5, 0x03, 0x2B, 0xFC, 0x64, 0x00, 0x02},
         std::bind(tripleWithStatus, _1, &IMU::getAccelerometerData), {9.81, -9.81, 1.0, 2}, false},
        {"linear acceleration", imu::kGetLinearAccelerometerData, {0x01, 0x00, 0x00, 0x80, 0x00, 0x00, 0xFF},
         std::bind(tripleWithStatus, _1, &IMU::getLinearAccelerometerData), {0.01, -327.68, 0.0, 255}, false},
        {"magnetometer", imu::kGetMagnetometerData, {0x88, 0x13, 0x78, 0xEC, 0x0A, 0x00, 0x01},
         std::bind(tripleWithStatus, _1, &IMU::getMagnetometerData), {50.0, -50.0, 0.1, 1}, false},
        {"euler angles", imu::kGetEulerAngles, {0x28, 0x23, 0xB0, 0xB9, 0x94, 0x11},
         std::bind(triple, _1, &IMU::getEulerAngles), {90.0, -180.0, 45.0}, false},
        {"gravity ignores its last two bytes", imu::kGetGravityData, {0x52, 0x26, 0x00, 0x00, 0xAE, 0xD9, 0x03, 0x99},
         std::bind(triple, _1, &IMU::getGravityData), {9.81, 0.0, -9.81}, false},
        {"uncalibrated gyro", imu::kGetUncalibratedGyroData, {0xE8, 0x03, 0x18, 0xFC, 0x01, 0x00},
         std::bind(triple, _1, &IMU::getUncalibratedGyroData), {1.0, -1.0, 0.001}, false},
        {"gyro bias", imu::kGetUncalibratedGyroBiasData, {0x0A, 0x00, 0xF6, 0xFF, 0x00, 0x00},
         std::bind(triple, _1, &IMU::getUncalibratedGyroBiasData), {0.01, -0.01, 0.0}, false},
        {"rotation vector accuracy", imu::kGetRotationVectorAccuracy, {0x52, 0x03, 0x02, 0xFF},
         rotationAccuracy, {0.85, 2}, false},
        {"raw accelerometer", imu::kGetRawAccelerometerData, {0x01, 0x00, 0xFF, 0xFF, 0x00, 0x80},
         std::bind(rawTriple, _1, &IMU::getRawAccelerometerData), {1, -1, -32768}, true},
        {"raw gyro", imu::kGetRawGyroData, {0x10, 0x27, 0xF0, 0xD8, 0xFF, 0x7F},
         std::bind(rawTriple, _1, &IMU::getRawGyroData), {10000, -10000, 32767}, true},
        {"raw magnetometer", imu::kGetRawMagnetometerData, {0x02, 0x00, 0x03, 0x00, 0x04, 0x00},
         std::bind(rawTriple, _1, &IMU::getRawMagnetometerData), {2, 3, 4}, true},
        {"calibration status set", imu::kGetCalibrationStatus, {0x01}, calibrationStatus, {1}, true},
        {"calibration status is bit 0 only", imu::kGetCalibrationStatus, {0xFE}, calibrationStatus, {0}, true},
        {"node id", imu::kGetNodeId, {0x45, 0x23, 0x01, 0x00}, nodeId, {0x12345}, true},
        {"hardware version", imu::kGetHardwareVersion, {1, 2, 3, 4}, hardwareVersion, {1, 2, 3, 4}, true},
        {"firmware version", imu::kGetFirmwareVersion, {1, 2, 0x34, 0x12}, firmwareVersion, {1, 2, 0x1234}, true},
    };
}

class ImuReplyTest : public kinetra::test::SensorNodeTest {};

TEST_F(ImuReplyTest, RepliesAreDecodedAndScaledInSinglePrecision) {
    ScriptedDevice device(bus, kNode, kImuType);
    IMU proxy(kNode, &bus);
    waitPresent();
    for (const auto& c : replyCases()) {
        SCOPED_TRACE(c.name);
        device.answer(c.command, c.reply);
        const Outcome got = c.get(proxy);
        ASSERT_EQ(got.status, RET_OK);
        ASSERT_EQ(got.outputs.size(), c.expected.size());
        for (size_t i = 0; i < c.expected.size(); ++i) {
            if (c.exact) {
                EXPECT_EQ(got.outputs[i], static_cast<double>(static_cast<float>(c.expected[i]))) << "output " << i;
            } else {
                EXPECT_FLOAT_EQ(static_cast<float>(got.outputs[i]), static_cast<float>(c.expected[i]))
                    << "output " << i;
            }
        }
    }
}

TEST_F(ImuReplyTest, FirmwareCommitEndsAtTheFirstZeroByte) {
    ScriptedDevice device(bus, kNode, kImuType);
    IMU proxy(kNode, &bus);
    waitPresent();
    const std::pair<std::vector<uint8_t>, std::string> cases[] = {
        {{'a', 'b', '1', '2', 'c', 'd', '3', '4'}, "ab12cd34"},
        {{'9', 'f', 0, 'x', 'y'}, "9f"},
    };
    for (const auto& [bytes, expected] : cases) {
        device.answer(imu::kGetFirmwareCommit, bytes);
        std::string commit = "old";
        ASSERT_EQ(proxy.getFirmwareCommit(&commit), RET_OK);
        EXPECT_EQ(commit, expected);
    }
}

// Converted getters decode into zeroed locals and write them even on a time-out;
// the pass-through getters leave the caller's values alone.
TEST_F(ImuReplyTest, OnTimeoutConvertedGettersReportZerosAndOthersKeepTheirOutputs) {
    struct TimeoutCase {
        std::string name;
        Getter get;
        bool zeroed;
        double kept = 7;  ///< what an untouched output still holds
    };
    const std::vector<TimeoutCase> cases = {
        {"getAccelerometerData", [](IMU& d) { return tripleWithStatus(d, &IMU::getAccelerometerData); }, true},
        {"getGyroData", [](IMU& d) { return tripleWithStatus(d, &IMU::getGyroData); }, true},
        {"getLinearAccelerometerData", [](IMU& d) { return tripleWithStatus(d, &IMU::getLinearAccelerometerData); },
         true},
        {"getMagnetometerData", [](IMU& d) { return tripleWithStatus(d, &IMU::getMagnetometerData); }, true},
        {"getGravityData", [](IMU& d) { return triple(d, &IMU::getGravityData); }, true},
        {"getUncalibratedGyroData", [](IMU& d) { return triple(d, &IMU::getUncalibratedGyroData); }, true},
        {"getUncalibratedGyroBiasData", [](IMU& d) { return triple(d, &IMU::getUncalibratedGyroBiasData); }, true},
        {"getEulerAngles", [](IMU& d) { return triple(d, &IMU::getEulerAngles); }, true},
        {"getRotationVectorData", rotationVector, true},
        {"getRotationVectorAccuracy", rotationAccuracy, true},
        {"getRawAccelerometerData", [](IMU& d) { return rawTriple(d, &IMU::getRawAccelerometerData); }, false},
        {"getRawGyroData", [](IMU& d) { return rawTriple(d, &IMU::getRawGyroData); }, false},
        {"getRawMagnetometerData", [](IMU& d) { return rawTriple(d, &IMU::getRawMagnetometerData); }, false},
        {"getCalibrationStatus", calibrationStatus, false, 1},
        {"getNodeId", nodeId, false},
        {"getHardwareVersion", hardwareVersion, false},
        {"getFirmwareVersion", firmwareVersion, false},
    };
    // One silent node and proxy per case, all waiting at once, so the whole table
    // costs one reply wait.
    constexpr uint32_t kFirstNode = 20;
    std::vector<std::unique_ptr<ScriptedDevice>> devices;
    std::vector<std::unique_ptr<IMU>> proxies;
    for (uint32_t i = 0; i < cases.size(); ++i) {
        devices.push_back(std::make_unique<ScriptedDevice>(bus, kFirstNode + i, kImuType));
        proxies.push_back(std::make_unique<IMU>(kFirstNode + i, &bus));
    }
    for (uint32_t i = 0; i < cases.size(); ++i) waitPresent(kFirstNode + i);
    std::vector<Outcome> outcomes(cases.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < cases.size(); ++i) {
        threads.emplace_back([&, i] { outcomes[i] = cases[i].get(*proxies[i]); });
    }
    for (auto& t : threads) t.join();
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(outcomes[i].status, RET_TIMEOUT);
        for (double value : outcomes[i].outputs) EXPECT_EQ(value, cases[i].zeroed ? 0.0 : cases[i].kept);
    }
    std::string commit = "kept";
    EXPECT_EQ(proxies[0]->getFirmwareCommit(&commit), RET_TIMEOUT);
    EXPECT_EQ(commit, "kept");
}

}  // namespace
