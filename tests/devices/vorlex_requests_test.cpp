// Every encoder operation's request frame: identifier, remote flag, DLC and payload.

#include <kinetra/vorlex.h>

#include "devices/protocol/vorlex_protocol.h"
#include "sensor_node_fixture.h"

#include <functional>
#include <string>

// Named rather than anonymous: files of this directory share a translation unit
// in batched builds, and this one reuses its neighbours' helper names.
namespace vorlex_requests {

using kinetra::test::ExpectedRequest;
using kinetra::test::ScriptedDevice;
using kinetra::test::kEncoderType;
namespace vorlex = kinetra::protocol::vorlex;

constexpr bool kRemote = true;
constexpr bool kData = false;

using RequestCase = kinetra::test::SensorRequestCase<Vorlex>;

// Outputs of the queries; their values do not matter here.
float f;
int i32;
unsigned int u32;
unsigned char b1, b2, b3, b4;
unsigned short u16;
bool flag;
std::string text;
CANBaudRate rate;

std::vector<RequestCase> encoderCommandCases() {
    return {
        {"configureEncoder", [](Vorlex& d) { return d.configureEncoder(2, -1); },
         {0x0B, kData, 5, {0x02, 0xFF, 0xFF, 0xFF, 0xFF}}},
        {"setCurrentPositionToZero", [](Vorlex& d) { return d.setCurrentPositionToZero(); }, {0x0D, kRemote, 0, {}}},
        {"setEncoderDirection", [](Vorlex& d) { return d.setEncoderDirection(1); }, {0x0F, kData, 1, {0x01}}},
        {"setFilterWindowLength", [](Vorlex& d) { return d.setFilterWindowLength(0x01020304); },
         {0x11, kData, 4, {0x04, 0x03, 0x02, 0x01}}},
        {"setMAxxxSPIRegister", [](Vorlex& d) { return d.setMAxxxSPIRegister(0x1B, 0x5A); },
         {0x13, kData, 2, {0x1B, 0x5A}}},
        {"setScalingFactor", [](Vorlex& d) { return d.setScalingFactor(1.0f); },
         {0x15, kData, 4, {0x00, 0x00, 0x80, 0x3F}}},
        {"setLinearCount", [](Vorlex& d) { return d.setLinearCount(4096); }, {0x50, kData, 4, {0x00, 0x10}}},
        {"setCANBaudRate 750K", [](Vorlex& d) { return d.setCANBaudRate(CAN_BAUD_750K); },
         {0x5A, kData, 4, {0xB0, 0x71, 0x0B, 0x00}}},
        {"clearEncoderErrors", [](Vorlex& d) { return d.clearEncoderErrors(); }, {0x6F, kRemote, 0, {}}},
        {"setNodeId", [](Vorlex& d) { return d.setNodeId(0x3FFFF); }, {0x09, kData, 4, {0xFF, 0xFF, 0x03}}},
        {"rebootVorlex", [](Vorlex& d) { return d.rebootVorlex(); }, {0x71, kRemote, 0, {}}},
        {"saveConfigurations", [](Vorlex& d) { return d.saveConfigurations(); }, {0x72, kData, 0, {}}},
        {"eraseConfigurations", [](Vorlex& d) { return d.eraseConfigurations(); }, {0x73, kData, 0, {}}},
        {"enterDFUMode", [](Vorlex& d) { return d.enterDFUMode(); }, {0x7F, kData, 0, {}}},
    };
}

std::vector<RequestCase> queryCases() {
    const auto remote = [](uint8_t command) { return ExpectedRequest{command, kRemote, 8, {}}; };
    return {
        {"getHardwareVersion", [](Vorlex& d) { return d.getHardwareVersion(&b1, &b2, &b3, &b4); }, remote(0x03)},
        {"getFirmwareVersion", [](Vorlex& d) { return d.getFirmwareVersion(&b1, &b2, &u16); }, remote(0x04)},
        {"getFirmwareCommit", [](Vorlex& d) { return d.getFirmwareCommit(&text); }, remote(0x05)},
        {"getNodeId", [](Vorlex& d) { return d.getNodeId(&u32); }, remote(0x0A)},
        {"getEncoderConfiguration", [](Vorlex& d) { return d.getEncoderConfiguration(&b1, &i32); }, remote(0x0C)},
        {"getZeroPosition", [](Vorlex& d) { return d.getZeroPosition(&f); }, remote(0x0E)},
        {"getEncoderDirection", [](Vorlex& d) { return d.getEncoderDirection(&b1); }, remote(0x10)},
        {"getFilterWindowLength", [](Vorlex& d) { return d.getFilterWindowLength(&u32); }, remote(0x12)},
        // The one query with a request payload: the register address, as a data frame.
        {"getMAxxxSPIRegister", [](Vorlex& d) { return d.getMAxxxSPIRegister(0x1B, &b1, &flag); },
         {0x14, kData, 1, {0x1B}}},
        {"getScalingFactor", [](Vorlex& d) { return d.getScalingFactor(&f); }, remote(0x16)},
        {"getEncoderCount", [](Vorlex& d) { return d.getEncoderCount(&i32); }, remote(0x30)},
        {"getEncoderRawData", [](Vorlex& d) { return d.getEncoderRawData(&u32); }, remote(0x31)},
        {"getAbsoluteAngle", [](Vorlex& d) { return d.getAbsoluteAngle(&f); }, remote(0x32)},
        {"getMultiturnAngle", [](Vorlex& d) { return d.getMultiturnAngle(&f); }, remote(0x33)},
        {"getRawVelocity", [](Vorlex& d) { return d.getRawVelocity(&f); }, remote(0x34)},
        {"getScaledVelocity", [](Vorlex& d) { return d.getScaledVelocity(&f); }, remote(0x35)},
        {"getFilteredVelocity", [](Vorlex& d) { return d.getFilteredVelocity(&f); }, remote(0x36)},
        {"getScaledFilteredVelocity", [](Vorlex& d) { return d.getScaledFilteredVelocity(&f); }, remote(0x37)},
        {"getRawAcceleration", [](Vorlex& d) { return d.getRawAcceleration(&f); }, remote(0x38)},
        {"getScaledAcceleration", [](Vorlex& d) { return d.getScaledAcceleration(&f); }, remote(0x39)},
        {"getFilteredAcceleration", [](Vorlex& d) { return d.getFilteredAcceleration(&f); }, remote(0x3A)},
        {"getScaledFilteredAcceleration", [](Vorlex& d) { return d.getScaledFilteredAcceleration(&f); },
         remote(0x3B)},
        {"getCANBaudRate", [](Vorlex& d) { return d.getCANBaudRate(&rate); }, remote(0x5B)},
        {"getErrorCode", [](Vorlex& d) { return d.getErrorCode(&u32); }, remote(0x60)},
    };
}

class VorlexRequestTest : public kinetra::test::SensorNodeTest {
protected:
    void check(const std::vector<RequestCase>& cases) { checkRequests<Vorlex>(kEncoderType, vorlex::kVorlexRoutes, cases); }
};

TEST_F(VorlexRequestTest, CommandsCarryTheirPayloads) { check(encoderCommandCases()); }

TEST_F(VorlexRequestTest, QueriesAreRemoteFramesExceptTheRegisterRead) { check(queryCases()); }

TEST_F(VorlexRequestTest, BitRatesGoOutInBitsPerSecond) {
    const uint32_t rates[] = {10000, 20000, 50000, 100000, 125000, 250000, 500000, 750000, 1000000};
    std::vector<RequestCase> cases;
    for (int selector = 0; selector < 9; ++selector) {
        const uint32_t r = rates[selector];
        cases.push_back({"selector " + std::to_string(selector),
                         [selector](Vorlex& d) { return d.setCANBaudRate(static_cast<CANBaudRate>(selector)); },
                         {0x5A, kData, 4,
                          {uint8_t(r), uint8_t(r >> 8), uint8_t(r >> 16), uint8_t(r >> 24), 0, 0, 0, 0}}});
    }
    check(cases);
}

TEST_F(VorlexRequestTest, BitRateOutsideTheTableIsRefusedAfterTheGuard) {
    Vorlex proxy(kNode, &bus);
    // The guard comes first: an absent node is reported as such.
    EXPECT_EQ(proxy.setCANBaudRate(static_cast<CANBaudRate>(9)), RET_NOT_CONNECTED);
    ScriptedDevice device(bus, kNode, kEncoderType);
    waitPresent();
    EXPECT_EQ(proxy.setCANBaudRate(static_cast<CANBaudRate>(-1)), RET_INVALID_ARGUMENT);
    EXPECT_EQ(proxy.setCANBaudRate(static_cast<CANBaudRate>(9)), RET_INVALID_ARGUMENT);
    EXPECT_TRUE(requestsTo().empty());
}

TEST_F(VorlexRequestTest, GuardRefusesAndSendsNothing) {
    Vorlex proxy(kNode, &bus);
    float angle = 5.0f;
    EXPECT_EQ(proxy.getAbsoluteAngle(&angle), RET_NOT_CONNECTED);
    EXPECT_EQ(proxy.setCurrentPositionToZero(), RET_NOT_CONNECTED);
    ScriptedDevice device(bus, kNode, kEncoderType);
    waitPresent();
    bus.setSendFails(true);
    can_frame_data probe{};
    bus.sendFrame(&probe);
    EXPECT_EQ(proxy.getAbsoluteAngle(&angle), RET_NOT_RUNNING);
    EXPECT_EQ(proxy.configureEncoder(1, 1), RET_NOT_RUNNING);
    EXPECT_EQ(angle, 5.0f);
    EXPECT_TRUE(requestsTo().empty());
}

}  // namespace vorlex_requests
