#include <kinetra/actuator.h>
#include <kinetra/driver.h>
#include <kinetra/imu.h>

#include "devices/device_core.h"
#include "devices/device_traits.h"
#include "can/bus.h"
#include "devices/protocol/motor_controller_protocol.h"
#include "support/memory_interface.h"
#include "support/scripted_device.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

namespace {

using kinetra::test::eventually;
using kinetra::test::MemoryInterface;
using kinetra::test::ScriptedDevice;
using namespace std::chrono_literals;
namespace motor = kinetra::protocol::motor;

constexpr uint8_t kDriverType = static_cast<uint8_t>(kinetra::protocol::DeviceType::Driver);

class QueryCycleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus.initInterface("mem"));
        ASSERT_TRUE(eventually([&] { return bus.isRunning(); }));
    }
    void waitPresent(uint32_t node) { kinetra::test::waitPresent(bus, node); }

    MemoryInterface bus;
};

TEST_F(QueryCycleTest, GuardsRefuseBeforeAnythingIsSent) {
    Driver driver(5, &bus);
    float value = 42.0f;
    bus.clearSent();
    EXPECT_EQ(driver.getBusVoltage(&value), RET_NOT_CONNECTED);
    EXPECT_EQ(driver.saveConfigurations(), RET_NOT_CONNECTED);
    ScriptedDevice device(bus, 5, kDriverType);
    waitPresent(5);
    bus.setSendFails(true);
    can_frame_data probe{};
    bus.sendFrame(&probe);
    EXPECT_EQ(driver.getBusVoltage(&value), RET_NOT_RUNNING);
    EXPECT_TRUE(bus.sentExceptHeartbeats().empty());
    EXPECT_EQ(value, 42.0f);
}

TEST_F(QueryCycleTest, QuerySendsARemoteFrameAndDecodesTheReply) {
    ScriptedDevice device(bus, 5, static_cast<uint8_t>(kinetra::protocol::DeviceType::Actuator));
    device.answer(motor::kGetBusVoltageCurrent, {0x00, 0x00, 0x40, 0x41, 0x00, 0x00, 0x80, 0x3F});
    Actuator actuator(5, &bus);
    waitPresent(5);
    bus.clearSent();
    float voltage = 0.0f;
    float current = 0.0f;
    ASSERT_EQ(actuator.getBusVoltage(&voltage), RET_OK);
    ASSERT_EQ(actuator.getBusCurrent(&current), RET_OK);
    EXPECT_EQ(voltage, 12.0f);
    EXPECT_EQ(current, 1.0f);
    const auto sent = bus.sentExceptHeartbeats();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent[0].can_id, 0xC00002C6u);
    EXPECT_EQ(sent[0].can_dlc, 8);
}

TEST_F(QueryCycleTest, TimeoutLeavesOutParametersUntouched) {
    ScriptedDevice device(bus, 5, kDriverType);
    Driver driver(5, &bus);
    waitPresent(5);
    float voltage = -7.0f;
    unsigned char major = 9, minor = 9;
    unsigned short patch = 9;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(driver.getBusVoltage(&voltage), RET_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 190ms);
    EXPECT_EQ(voltage, -7.0f);
    EXPECT_EQ(driver.getFirmwareVersion(&major, &minor, &patch), RET_TIMEOUT);
    EXPECT_EQ(major, 9);
    EXPECT_EQ(patch, 9);
}

TEST_F(QueryCycleTest, ReplyWithAnotherCommandIdIsIgnored) {
    ScriptedDevice device(bus, 5, kDriverType);
    device.answerWithCommand(motor::kGetBusVoltageCurrent, motor::kGetIdqCurrents, {0, 0, 0x40, 0x41});
    Driver driver(5, &bus);
    waitPresent(5);
    float voltage = 3.0f;
    EXPECT_EQ(driver.getBusVoltage(&voltage), RET_TIMEOUT);
    EXPECT_EQ(voltage, 3.0f);
}

// Regression: a reply that arrives after its query timed out must not be taken as
// the answer to the next query of the same command.
TEST_F(QueryCycleTest, LateReplyDoesNotLeakIntoTheNextQuery) {
    ScriptedDevice device(bus, 5, kDriverType);
    device.answer(motor::kGetBusVoltageCurrent, {0x00, 0x00, 0x40, 0x41});  // 12.0
    device.setReplyDelay(300ms);
    Driver driver(5, &bus);
    waitPresent(5);
    float voltage = 0.0f;
    EXPECT_EQ(driver.getBusVoltage(&voltage), RET_TIMEOUT);
    std::this_thread::sleep_for(150ms);  // the late reply arrives while nothing is pending
    device.answer(motor::kGetBusVoltageCurrent, {0x00, 0x00, 0xC0, 0x40});  // 6.0
    device.setReplyDelay(0ms);
    ASSERT_EQ(driver.getBusVoltage(&voltage), RET_OK);
    EXPECT_EQ(voltage, 6.0f);
}

TEST_F(QueryCycleTest, TwoProxiesWaitIndependently) {
    ScriptedDevice slow(bus, 5, kDriverType);
    ScriptedDevice fast(bus, 6, kDriverType);
    slow.answer(motor::kGetBusVoltageCurrent, {0x00, 0x00, 0x40, 0x41});
    slow.setReplyDelay(120ms);
    fast.answer(motor::kGetBusVoltageCurrent, {0x00, 0x00, 0xC0, 0x40});
    Driver a(5, &bus);
    Driver b(6, &bus);
    waitPresent(5);
    waitPresent(6);
    float va = 0.0f;
    float vb = 0.0f;
    std::thread other([&] { EXPECT_EQ(a.getBusVoltage(&va), RET_OK); });
    std::this_thread::sleep_for(20ms);
    for (int i = 0; i < 5; ++i) {
        vb = 0.0f;
        EXPECT_EQ(b.getBusVoltage(&vb), RET_OK);
        EXPECT_EQ(vb, 6.0f);
    }
    other.join();
    EXPECT_EQ(va, 12.0f);
}

TEST_F(QueryCycleTest, CommandsAreSingleDataFramesWithoutWaiting) {
    ScriptedDevice device(bus, 5, kDriverType);
    Driver driver(5, &bus);
    IMU imu(5, &bus);  // replaces the driver's registration; commands do not care
    waitPresent(5);
    bus.clearSent();
    EXPECT_EQ(driver.saveConfigurations(), RET_OK);
    EXPECT_EQ(imu.eraseConfigurations(), RET_OK);
    const auto sent = bus.sentExceptHeartbeats();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].can_id, 0x80000000u | (5u << 7) | 0x72u);
    EXPECT_EQ(sent[0].can_dlc, 0);
    EXPECT_EQ(sent[1].can_id, 0x80000000u | (5u << 7) | 0x73u);
}

// A proxy over the shared core, so that tests reach reply layouts whose public
// getters belong to the command sets.
template <typename Traits>
class CoreProxy : public CANDeviceType {
public:
    CoreProxy(unsigned int node, Interface& iface) : core(node, &iface), iface_(iface) {
        node_id_ = node;
        iface_.registerCANMsgCallback(this);
    }
    ~CoreProxy() override { iface_.unregisterCANMsgCallback(this); }
    void canMsgCallback(can_frame_data* frame) override { core.handleFrame(frame); }

    kinetra::DeviceCore<Traits> core;

private:
    Interface& iface_;
};

TEST_F(QueryCycleTest, EachClassDecodesCommand40ByItsOwnLayout) {
    ScriptedDevice device(bus, 5, kDriverType);
    // float 1.5, u16 0x0102, u8 0x33, bool at bit 56 for the driver; the actuator
    // reads the same bytes as u16, u16, u8, u8, bool.
    device.answer(motor::kGetMotorThermistorConfiguration, {0x00, 0x00, 0xC0, 0x3F, 0x02, 0x01, 0x33, 0x01});
    waitPresent(5);
    {
        CoreProxy<kinetra::DriverTraits> driver(5, bus);
        float r = 0;
        unsigned short beta = 0;
        unsigned char upper = 0;
        bool enabled = false;
        ASSERT_EQ(driver.core.query<motor::kGetMotorThermistorConfiguration>(&r, &beta, &upper, &enabled), RET_OK);
        EXPECT_EQ(r, 1.5f);
        EXPECT_EQ(beta, 0x0102);
        EXPECT_EQ(upper, 0x33);
        EXPECT_TRUE(enabled);
    }
    {
        CoreProxy<kinetra::ActuatorTraits> actuator(5, bus);
        unsigned short a = 0, b = 0;
        unsigned char c = 0, d = 0;
        bool e = true;
        ASSERT_EQ(actuator.core.query<motor::kGetMotorThermistorConfiguration>(&a, &b, &c, &d, &e), RET_OK);
        EXPECT_EQ(a, 0x0000);
        EXPECT_EQ(b, 0x3FC0);
        EXPECT_EQ(c, 0x02);
        EXPECT_EQ(d, 0x01);
        EXPECT_TRUE(e);  // bit 48, the low bit of byte 6
    }
}

TEST_F(QueryCycleTest, FlagsFollowTheirValueBitByBit) {
    ScriptedDevice device(bus, 5, kDriverType);
    // float 2.0, then flags at bits 32 (0), 33 (1), 34 (1).
    device.answer(motor::kGetBrakeResistorState, {0x00, 0x00, 0x00, 0x40, 0x06});
    waitPresent(5);
    CoreProxy<kinetra::DriverTraits> driver(5, bus);
    float resistance = 0;
    bool a = true, b = false, c = false;
    ASSERT_EQ(driver.core.query<motor::kGetBrakeResistorState>(&resistance, &a, &b, &c), RET_OK);
    EXPECT_EQ(resistance, 2.0f);
    EXPECT_FALSE(a);
    EXPECT_TRUE(b);
    EXPECT_TRUE(c);
}

TEST_F(QueryCycleTest, TextRepliesStopAtTheFirstZeroByte) {
    struct Case {
        std::vector<uint8_t> bytes;
        std::string text;
    };
    const Case cases[] = {
        {{0x41, 0x42, 0x00, 0x43}, "AB"},
        {{0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38}, "12345678"},
        {{0x00, 0x41}, ""},
    };
    ScriptedDevice device(bus, 5, static_cast<uint8_t>(kinetra::protocol::DeviceType::Imu));
    waitPresent(5);
    CoreProxy<kinetra::ImuTraits> imu(5, bus);
    for (const auto& c : cases) {
        device.answer(kinetra::protocol::common::kGetFirmwareCommit, c.bytes);
        std::string text = "unchanged";
        ASSERT_EQ(imu.core.query<kinetra::protocol::common::kGetFirmwareCommit>(&text), RET_OK);
        EXPECT_EQ(text, c.text);
    }
}

TEST_F(QueryCycleTest, HeartbeatsCarryTheControllerStatus) {
    ScriptedDevice device(bus, 5, kDriverType, 20ms);
    device.setHeartbeatData({0x78, 0x56, 0x34, 0x12, 0x02, 0x03});
    CoreProxy<kinetra::ActuatorTraits> actuator(5, bus);
    EXPECT_EQ(actuator.core.heartbeatByte4(), 1);  // before any heartbeat
    ASSERT_TRUE(eventually([&] { return actuator.core.heartbeatWord() == 0x12345678u; }));
    EXPECT_EQ(actuator.core.heartbeatByte4(), 2);
    EXPECT_EQ(actuator.core.heartbeatByte5(), 3);
}

TEST_F(QueryCycleTest, UnroutedCommandsAreLoggedAndUnansweredRepliesAreNot) {
    std::ostringstream log;
    CoreProxy<kinetra::ActuatorTraits> actuator(5, bus);
    actuator.core.setOutputLogStream(&log);
    for (uint8_t command : {uint8_t{0}, uint8_t{7}, uint8_t{111}, motor::kGetBusVoltageCurrent}) {
        can_frame_data frame{};
        frame.can_id = kinetra::protocol::nodeFrameId(5, command, kDriverType);
        frame.can_dlc = 8;
        actuator.canMsgCallback(&frame);
    }
    EXPECT_EQ(log.str(), "Unknown Command Id.\nUnknown Command Id.\nUnknown Command Id.\n");
}

TEST_F(QueryCycleTest, FlashModeMatchesBootloaderRepliesByTheWholeIdentifier) {
    std::ostringstream log;
    ScriptedDevice device(bus, 5, kDriverType);
    waitPresent(5);
    CoreProxy<kinetra::DriverTraits> driver(5, bus);
    driver.core.setOutputLogStream(&log);
    driver.core.setFlashMode(true);
    bus.flash_mode = true;
    driver.core.flashReplies().arm(0x79);
    can_frame_data stray{};
    stray.can_id = 0xC0000281;
    bus.inject(stray);
    can_frame_data other{};
    other.can_id = 0x31;
    bus.inject(other);
    can_frame_data answer{};
    answer.can_id = 0x79;
    answer.can_dlc = 2;
    answer.data[0] = 0x44;
    answer.data[1] = 0x33;
    bus.inject(answer);
    can_frame_data got{};
    ASSERT_TRUE(driver.core.flashReplies().next(2s, got));
    bus.flash_mode = false;
    EXPECT_EQ(got.can_id, 0x79u);
    EXPECT_EQ(got.data[1], 0x33);
    EXPECT_FALSE(driver.core.flashReplies().next(0ms, got));  // the 0x31 frame was not armed for
    EXPECT_NE(log.str().find("[FLASH] Unknown Command Id:3221226113\n"), std::string::npos);
}

}  // namespace
