// Encoder reply decoding, the bit-rate table with its -1 rule, and outputs left
// alone when a reply does not come.

#include <kinetra/vorlex.h>

#include "devices/protocol/vorlex_protocol.h"
#include "sensor_node_fixture.h"

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace {

using kinetra::test::ScriptedDevice;
using kinetra::test::kEncoderType;
namespace vorlex = kinetra::protocol::vorlex;

std::vector<uint8_t> bytesOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return {uint8_t(bits), uint8_t(bits >> 8), uint8_t(bits >> 16), uint8_t(bits >> 24)};
}
std::vector<uint8_t> bytesOf(uint32_t value) {
    return {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
}

using FloatGetter = ret_status_t (Vorlex::*)(float*);

struct FloatCase {
    const char* name;
    uint8_t command;
    FloatGetter get;
};

const FloatCase kFloatGetters[] = {
    {"getZeroPosition", vorlex::kGetZeroPosition, &Vorlex::getZeroPosition},
    {"getScalingFactor", vorlex::kGetScalingFactor, &Vorlex::getScalingFactor},
    {"getAbsoluteAngle", vorlex::kGetAbsoluteAngle, &Vorlex::getAbsoluteAngle},
    {"getMultiturnAngle", vorlex::kGetMultiturnAngle, &Vorlex::getMultiturnAngle},
    {"getRawVelocity", vorlex::kGetRawVelocity, &Vorlex::getRawVelocity},
    {"getScaledVelocity", vorlex::kGetScaledVelocity, &Vorlex::getScaledVelocity},
    {"getFilteredVelocity", vorlex::kGetFilteredVelocity, &Vorlex::getFilteredVelocity},
    {"getScaledFilteredVelocity", vorlex::kGetScaledFilteredVelocity, &Vorlex::getScaledFilteredVelocity},
    {"getRawAcceleration", vorlex::kGetRawAcceleration, &Vorlex::getRawAcceleration},
    {"getScaledAcceleration", vorlex::kGetScaledAcceleration, &Vorlex::getScaledAcceleration},
    {"getFilteredAcceleration", vorlex::kGetFilteredAcceleration, &Vorlex::getFilteredAcceleration},
    {"getScaledFilteredAcceleration", vorlex::kGetScaledFilteredAcceleration, &Vorlex::getScaledFilteredAcceleration},
};

class VorlexReplyTest : public kinetra::test::SensorNodeTest {
protected:
    void SetUp() override {
        SensorNodeTest::SetUp();
        device = std::make_unique<ScriptedDevice>(bus, kNode, kEncoderType);
        proxy = std::make_unique<Vorlex>(kNode, &bus);
        waitPresent();
    }
    void TearDown() override {
        proxy.reset();
        device.reset();
    }
    std::unique_ptr<ScriptedDevice> device;
    std::unique_ptr<Vorlex> proxy;
};

TEST_F(VorlexReplyTest, FloatsArePassedThroughUnscaled) {
    // Each getter gets a distinct value so that a swapped command id shows.
    float value = -1234.5f;
    for (const auto& c : kFloatGetters) {
        SCOPED_TRACE(c.name);
        value += 0.25f;
        device->answer(c.command, bytesOf(value));
        float out = 0.0f;
        ASSERT_EQ(((*proxy).*c.get)(&out), RET_OK);
        EXPECT_EQ(out, value);
    }
}

TEST_F(VorlexReplyTest, IntegerRepliesKeepTheirSignAndWidth) {
    device->answer(vorlex::kGetEncoderCount, {0xFF, 0xFF, 0xFF, 0xFF});
    device->answer(vorlex::kGetEncoderRawData, {0xFF, 0xFF, 0xFF, 0xFF});
    device->answer(vorlex::kGetEncoderConfiguration, {0x02, 0xFE, 0xFF, 0xFF, 0xFF});
    device->answer(vorlex::kGetEncoderDirection, {0x01, 0xFF});
    device->answer(vorlex::kGetFilterWindowLength, {0x10, 0x00, 0x00, 0x00});
    device->answer(vorlex::kGetErrorCode, {0x04, 0x03, 0x02, 0x01});
    device->answer(vorlex::kGetMAxxxSPIRegister, {0x5A, 0x01});
    int count = 0;
    unsigned int raw = 0, window = 0, error = 0;
    unsigned char type = 0, direction = 0, value = 0;
    int resolution = 0;
    bool flag = false;
    ASSERT_EQ(proxy->getEncoderCount(&count), RET_OK);
    EXPECT_EQ(count, -1);
    ASSERT_EQ(proxy->getEncoderRawData(&raw), RET_OK);
    EXPECT_EQ(raw, 0xFFFFFFFFu);
    ASSERT_EQ(proxy->getEncoderConfiguration(&type, &resolution), RET_OK);
    EXPECT_EQ(type, 2);
    EXPECT_EQ(resolution, -2);
    ASSERT_EQ(proxy->getEncoderDirection(&direction), RET_OK);
    EXPECT_EQ(direction, 1);
    ASSERT_EQ(proxy->getFilterWindowLength(&window), RET_OK);
    EXPECT_EQ(window, 16u);
    ASSERT_EQ(proxy->getErrorCode(&error), RET_OK);
    EXPECT_EQ(error, 0x01020304u);
    ASSERT_EQ(proxy->getMAxxxSPIRegister(0x1B, &value, &flag), RET_OK);
    EXPECT_EQ(value, 0x5A);
    EXPECT_TRUE(flag);
}

TEST_F(VorlexReplyTest, BitRateMapsBackThroughTheTable) {
    const uint32_t rates[] = {10000, 20000, 50000, 100000, 125000, 250000, 500000, 750000, 1000000};
    for (int selector = 0; selector < 9; ++selector) {
        device->answer(vorlex::kGetCANBaudRate, bytesOf(rates[selector]));
        CANBaudRate rate = static_cast<CANBaudRate>(-1);
        ASSERT_EQ(proxy->getCANBaudRate(&rate), RET_OK);
        EXPECT_EQ(static_cast<int>(rate), selector);
    }
    // 800000 is a common rate but not one of the devices'.
    for (uint32_t unknown : {800000u, 0u, 125001u}) {
        device->answer(vorlex::kGetCANBaudRate, bytesOf(unknown));
        CANBaudRate rate = CAN_BAUD_1M;
        ASSERT_EQ(proxy->getCANBaudRate(&rate), RET_OK);
        EXPECT_EQ(static_cast<int>(rate), -1) << unknown;
    }
}

TEST_F(VorlexReplyTest, FirmwareCommitEndsAtTheFirstZeroByte) {
    device->answer(vorlex::kGetFirmwareCommit, {'0', '1', '2', '3', '4', '5', '6', '7'});
    std::string commit;
    ASSERT_EQ(proxy->getFirmwareCommit(&commit), RET_OK);
    EXPECT_EQ(commit, "01234567");
    device->answer(vorlex::kGetFirmwareCommit, {'a', 0, 'b'});
    ASSERT_EQ(proxy->getFirmwareCommit(&commit), RET_OK);
    EXPECT_EQ(commit, "a");
}

// Every encoder getter hands the caller's pointers to the engine, so a time-out
// leaves them as they were; the bit rate alone is mapped and reads -1.
TEST_F(VorlexReplyTest, OnTimeoutOutputsAreKeptAndTheBitRateReadsMinusOne) {
    struct Case {
        std::string name;
        std::function<std::pair<ret_status_t, bool>(Vorlex&)> run;  ///< status, outputs as expected
    };
    std::vector<Case> cases;
    for (const auto& c : kFloatGetters) {
        cases.push_back({c.name, [get = c.get](Vorlex& d) {
                             float out = 7.0f;
                             const ret_status_t s = (d.*get)(&out);
                             return std::make_pair(s, out == 7.0f);
                         }});
    }
    cases.push_back({"getEncoderCount", [](Vorlex& d) {
                         int out = 7;
                         const ret_status_t s = d.getEncoderCount(&out);
                         return std::make_pair(s, out == 7);
                     }});
    cases.push_back({"getEncoderConfiguration", [](Vorlex& d) {
                         unsigned char type = 7;
                         int resolution = 7;
                         const ret_status_t s = d.getEncoderConfiguration(&type, &resolution);
                         return std::make_pair(s, type == 7 && resolution == 7);
                     }});
    cases.push_back({"getMAxxxSPIRegister", [](Vorlex& d) {
                         unsigned char value = 7;
                         bool flag = true;
                         const ret_status_t s = d.getMAxxxSPIRegister(3, &value, &flag);
                         return std::make_pair(s, value == 7 && flag);
                     }});
    cases.push_back({"getErrorCode", [](Vorlex& d) {
                         unsigned int code = 7;
                         const ret_status_t s = d.getErrorCode(&code);
                         return std::make_pair(s, code == 7u);
                     }});
    cases.push_back({"getCANBaudRate", [](Vorlex& d) {
                         CANBaudRate rate = CAN_BAUD_500K;
                         const ret_status_t s = d.getCANBaudRate(&rate);
                         return std::make_pair(s, static_cast<int>(rate) == -1);
                     }});
    // One silent node and proxy per case, all waiting at once.
    constexpr uint32_t kFirstNode = 40;
    std::vector<std::unique_ptr<ScriptedDevice>> devices;
    std::vector<std::unique_ptr<Vorlex>> proxies;
    for (uint32_t i = 0; i < cases.size(); ++i) {
        devices.push_back(std::make_unique<ScriptedDevice>(bus, kFirstNode + i, kEncoderType));
        proxies.push_back(std::make_unique<Vorlex>(kFirstNode + i, &bus));
    }
    for (uint32_t i = 0; i < cases.size(); ++i) waitPresent(kFirstNode + i);
    std::vector<std::pair<ret_status_t, bool>> outcomes(cases.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < cases.size(); ++i) {
        threads.emplace_back([&, i] { outcomes[i] = cases[i].run(*proxies[i]); });
    }
    for (auto& t : threads) t.join();
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(outcomes[i].first, RET_TIMEOUT);
        EXPECT_TRUE(outcomes[i].second);
    }
}

}  // namespace
