// Misuse and hostile input at the proxies: every case ends in a clear status,
// sends nothing it should not, and never hands out a value no device sent.

#include <kinetra/actuator.h>
#include <kinetra/driver.h>
#include <kinetra/imu.h>
#include <kinetra/vorlex.h>

#include "can/bus.h"
#include "devices/protocol/common_commands.h"
#include "devices/protocol/motor_controller_protocol.h"
#include "support/memory_interface.h"
#include "support/scripted_device.h"
#include "support/wait.h"
#include "usb/usb_test_helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <future>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using kinetra::test::eventually;
using kinetra::test::MemoryInterface;
using kinetra::test::ScriptedDevice;
using namespace std::chrono_literals;
namespace motor = kinetra::protocol::motor;
namespace common = kinetra::protocol::common;
using kinetra::protocol::DeviceType;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

uint8_t typeOf(DeviceType type) { return static_cast<uint8_t>(type); }

std::vector<uint8_t> floatBytes(float first, float second = 0.0f) {
    std::vector<uint8_t> bytes(8, 0);
    std::memcpy(bytes.data(), &first, 4);
    std::memcpy(bytes.data() + 4, &second, 4);
    return bytes;
}

class ProxyMisuseTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus.initInterface("mem"));
        ASSERT_TRUE(eventually([&] { return bus.isRunning(); }));
    }
    void waitPresent(uint32_t node) { kinetra::test::waitPresent(bus, node); }
    std::size_t framesTo(uint32_t node) {
        std::size_t count = 0;
        for (can_frame_data frame : bus.sentExceptHeartbeats()) {
            if (getDeviceIdFromFrame(&frame) == node &&
                getCommandIdFromFrame(&frame) != kinetra::protocol::kAcknowledgement) {
                ++count;
            }
        }
        return count;
    }

    MemoryInterface bus;
};

// Fault: two threads querying one proxy received each other's values with RET_OK.
TEST_F(ProxyMisuseTest, ConcurrentQueriesOnOneProxyNeverSwapValues) {
    ScriptedDevice device(bus, 1, typeOf(DeviceType::Driver));
    device.answer(motor::kGetBusVoltageCurrent, floatBytes(24.0f, 1.5f));
    device.answer(motor::kGetTemperatures, floatBytes(77.0f, 30.0f));
    Driver driver(1, &bus);
    waitPresent(1);

    struct Reader {
        std::function<ret_status_t(Driver&, float*)> read;
        float expected;
    };
    const Reader readers[] = {
        {[](Driver& d, float* v) { return d.getBusVoltage(v); }, 24.0f},
        {[](Driver& d, float* v) { return d.getMotorTemperature(v); }, 77.0f},
        {[](Driver& d, float* v) { return d.getBusCurrent(v); }, 1.5f},
    };
    std::vector<std::future<int>> wrong;
    for (const Reader& reader : readers) {
        wrong.push_back(std::async(std::launch::async, [&driver, reader] {
            int mismatches = 0;
            for (int i = 0; i < 150; ++i) {
                float value = -1.0f;
                if (reader.read(driver, &value) == RET_OK && value != reader.expected) ++mismatches;
            }
            return mismatches;
        }));
    }
    for (auto& result : wrong) EXPECT_EQ(result.get(), 0);
}

TEST_F(ProxyMisuseTest, CommandIsNotHeldUpByAWaitingQuery) {
    ScriptedDevice device(bus, 1, typeOf(DeviceType::Driver));
    device.setRepliesStopped(true);
    Driver driver(1, &bus);
    waitPresent(1);
    auto query = std::async(std::launch::async, [&] {
        float voltage = 0.0f;
        return driver.getBusVoltage(&voltage);
    });
    ASSERT_TRUE(bus.waitForSent([](const can_frame_data& f) {
        return getCommandIdFromFrame(const_cast<can_frame_data*>(&f)) == motor::kGetBusVoltageCurrent;
    }, 2000ms));
    // The query now holds the query lock until its wait ends; the command must
    // go out while it still waits, not after.
    EXPECT_EQ(driver.setDeviceToIdle(), RET_OK);
    EXPECT_NE(query.wait_for(0ms), std::future_status::ready);
    EXPECT_EQ(query.get(), RET_TIMEOUT);
}

// Fault: emergencyStop on a node no longer heard sent nothing.
TEST_F(ProxyMisuseTest, EmergencyStopGoesOutWheneverTheTransportIsOpen) {
    struct Case {
        const char* name;
        bool node_present;
        bool last_send_failed;
        bool closed;
        ret_status_t status;
        bool sent;
    };
    const Case cases[] = {
        {"present", true, false, false, RET_OK, true},
        {"not heard", false, false, false, RET_NOT_CONNECTED, true},
        {"after a failed send", true, true, false, RET_NOT_RUNNING, true},
        {"interface closed", true, false, true, RET_NOT_RUNNING, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryInterface local;
        ASSERT_TRUE(local.initInterface("mem"));
        std::unique_ptr<ScriptedDevice> device;
        if (c.node_present) {
            device = std::make_unique<ScriptedDevice>(local, 2, typeOf(DeviceType::Actuator));
            ASSERT_TRUE(eventually([&] { return local.isDeviceConnected(2); }));
        }
        ASSERT_TRUE(eventually([&] { return local.isRunning(); }));
        Actuator actuator(2, &local);
        if (c.last_send_failed) {
            local.setSendFails(true);
            can_frame_data frame{};
            local.sendFrame(&frame);
            local.setSendFails(false);
        }
        if (c.closed) local.closeInterface();
        local.clearSent();
        EXPECT_EQ(actuator.emergencyStop(), c.status);
        bool sent = false;
        for (can_frame_data frame : local.sentExceptHeartbeats()) {
            sent |= getCommandIdFromFrame(&frame) == motor::kEmergencyStop && getRtrFromFrame(&frame);
        }
        EXPECT_EQ(sent, c.sent);
    }
}

// Fault: NaN and infinite arguments reached the wire as garbage set points.
TEST_F(ProxyMisuseTest, NonFiniteArgumentsAreRefusedAndNothingIsSent) {
    ScriptedDevice d1(bus, 1, typeOf(DeviceType::Driver));
    ScriptedDevice d2(bus, 2, typeOf(DeviceType::Actuator));
    ScriptedDevice d3(bus, 3, typeOf(DeviceType::Imu));
    ScriptedDevice d4(bus, 4, typeOf(DeviceType::Encoder));
    Driver driver(1, &bus);
    Actuator actuator(2, &bus);
    IMU imu(3, &bus);
    Vorlex encoder(4, &bus);
    Driver absent(9, &bus);
    for (uint32_t node : {1u, 2u, 3u, 4u}) waitPresent(node);

    struct Case {
        const char* name;
        uint32_t node;
        std::function<ret_status_t()> call;
    };
    const Case cases[] = {
        {"position NaN", 1, [&] { return driver.setPositionControl(kNaN, 0.0f); }},
        {"velocity +inf", 1, [&] { return driver.setVelocityControl(kInf); }},
        {"torque ramp second NaN", 1, [&] { return driver.setTorqueRampControl(1.0f, kNaN, 0.0f); }},
        {"position as -inf", 1, [&] { return driver.setCurrentPositionAs(-kInf); }},
        {"bus trip levels", 1, [&] { return driver.setDCBusTripLevels(10.0f, kInf); }},
        {"actuator trajectory last", 2, [&] { return actuator.setTrapezoidalTrajectoryControl(0, 0, 0, kNaN); }},
        {"actuator torque", 2, [&] { return actuator.setTorqueControl(-kInf, 0.0f); }},
        {"imu orientation", 3, [&] { return imu.setOrientation(1.0f, 0.0f, 0.0f, kNaN); }},
        {"encoder scaling", 4, [&] { return encoder.setScalingFactor(kInf); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t before = framesTo(c.node);
        EXPECT_EQ(c.call(), RET_INVALID_ARGUMENT);
        EXPECT_EQ(framesTo(c.node), before);
    }
    // The guard comes first: an absent node is reported as such.
    EXPECT_EQ(absent.setPositionControl(kNaN, 0.0f), RET_NOT_CONNECTED);
    EXPECT_EQ(framesTo(9), 0u);
}

// Fault: a null out-pointer crashed the query; it now sends nothing.
TEST_F(ProxyMisuseTest, NullOutPointerIsRefusedAfterTheGuard) {
    ScriptedDevice d1(bus, 1, typeOf(DeviceType::Driver));
    ScriptedDevice d3(bus, 3, typeOf(DeviceType::Imu));
    ScriptedDevice d4(bus, 4, typeOf(DeviceType::Encoder));
    Driver driver(1, &bus);
    IMU imu(3, &bus);
    Vorlex encoder(4, &bus);
    Driver absent(9, &bus);
    for (uint32_t node : {1u, 3u, 4u}) waitPresent(node);

    float f = 0.0f;
    struct Case {
        const char* name;
        uint32_t node;
        std::function<ret_status_t()> call;
    };
    const Case cases[] = {
        {"bus voltage", 1, [&] { return driver.getBusVoltage(nullptr); }},
        {"phase currents, first", 1, [&] { return driver.getMotorPhaseCurrents(nullptr, &f, &f); }},
        {"phase currents, last", 1, [&] { return driver.getMotorPhaseCurrents(&f, &f, nullptr); }},
        {"commit text", 1, [&] { return driver.getFirmwareCommit(nullptr); }},
        {"imu euler", 3, [&] { return imu.getEulerAngles(&f, nullptr, &f); }},
        {"encoder angle", 4, [&] { return encoder.getAbsoluteAngle(nullptr); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t before = framesTo(c.node);
        EXPECT_EQ(c.call(), RET_INVALID_ARGUMENT);
        EXPECT_EQ(framesTo(c.node), before);
    }
    EXPECT_EQ(absent.getBusVoltage(nullptr), RET_NOT_CONNECTED);
}

// Fault: a proxy built without an interface, or outliving it, crashed.
TEST(ProxyWithoutInterface, ReportsNotInitialisedWithoutAnInterface) {
    Driver driver(1, nullptr);
    Actuator actuator(2, nullptr);
    IMU imu(3, nullptr);
    Vorlex encoder(4, nullptr);
    float f = 0.0f;
    EXPECT_EQ(driver.getBusVoltage(&f), RET_NOT_INITIALISED);
    EXPECT_EQ(driver.emergencyStop(), RET_NOT_INITIALISED);
    EXPECT_EQ(actuator.setDeviceToIdle(), RET_NOT_INITIALISED);
    EXPECT_EQ(imu.tareAll(), RET_NOT_INITIALISED);
    EXPECT_EQ(encoder.getAbsoluteAngle(&f), RET_NOT_INITIALISED);
    EXPECT_FALSE(driver.isConnected());
    EXPECT_FALSE(encoder.isConnected());
}

TEST(ProxyWithoutInterface, ProxiesOutlivingTheirInterfaceReportNotInitialised) {
    auto bus = std::make_unique<MemoryInterface>();
    ASSERT_TRUE(bus->initInterface("mem"));
    auto device = std::make_unique<ScriptedDevice>(*bus, 1, typeOf(DeviceType::Driver));
    ASSERT_TRUE(eventually([&] { return bus->isDeviceConnected(1); }));
    auto driver = std::make_unique<Driver>(1, bus.get());
    auto imu = std::make_unique<IMU>(3, bus.get());
    device.reset();
    bus.reset();
    float f = 0.0f;
    EXPECT_EQ(driver->getBusVoltage(&f), RET_NOT_INITIALISED);
    EXPECT_EQ(driver->emergencyStop(), RET_NOT_INITIALISED);
    EXPECT_EQ(imu->tareAll(), RET_NOT_INITIALISED);
    EXPECT_FALSE(driver->isConnected());
    // Destroying them must not reach into the freed interface (ASan sees it).
    driver.reset();
    imu.reset();
}

// Fault: a standard-identifier frame made a node present and answered a query.
TEST_F(ProxyMisuseTest, StandardFramesReachNoProxyAndNoPresenceEntry) {
    kinetra::test::LockedLog log;
    bus.setOutputLogStream(&log);
    Driver driver(1, &bus);
    // The standard frame 0x081 carries node 1 and the heartbeat command in the
    // identifier bits a device frame uses.
    can_frame_data standard_heartbeat{};
    standard_heartbeat.can_id = 0x081;
    bus.inject(standard_heartbeat);
    bus.inject(standard_heartbeat);
    ScriptedDevice marker(bus, 2, typeOf(DeviceType::Driver));
    waitPresent(2);
    EXPECT_FALSE(bus.isDeviceConnected(1));

    ScriptedDevice device(bus, 1, typeOf(DeviceType::Driver));
    waitPresent(1);
    device.setRepliesStopped(true);
    const int listener = bus.addListener([&](const can_frame_data& sent) {
        can_frame_data copy = sent;
        if (getDeviceIdFromFrame(&copy) != 1 || getCommandIdFromFrame(&copy) != common::kGetFirmwareVersion) return;
        can_frame_data reply{};
        reply.can_id = 0x084;
        reply.can_dlc = 4;
        reply.data[0] = 9;
        bus.inject(reply);
    });
    unsigned char major = 0, minor = 0;
    unsigned short patch = 0;
    EXPECT_EQ(driver.getFirmwareVersion(&major, &minor, &patch), RET_TIMEOUT);
    EXPECT_EQ(major, 0);
    bus.removeListener(listener);
    EXPECT_EQ(log.count("Ignoring standard-identifier frames"), 1u) << log.text();
    bus.setOutputLogStream(nullptr);
}

// Fault: text replies read all eight data bytes whatever the DLC.
TEST_F(ProxyMisuseTest, TextRepliesEndAtTheDlc) {
    ScriptedDevice device(bus, 4, typeOf(DeviceType::Encoder));
    Vorlex encoder(4, &bus);
    waitPresent(4);
    const std::vector<uint8_t> letters = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    const struct {
        uint8_t dlc;
        const char* text;
    } cases[] = {{2, "ab"}, {0, ""}, {7, "abcdefg"}, {8, "abcdefgh"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.dlc));
        device.answer(common::kGetFirmwareCommit, letters, c.dlc);
        std::string commit = "unchanged";
        ASSERT_EQ(encoder.getFirmwareCommit(&commit), RET_OK);
        EXPECT_EQ(commit, c.text);
    }
}

}  // namespace
