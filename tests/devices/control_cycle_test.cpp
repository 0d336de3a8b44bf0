#include <kinetra/actuator.h>
#include <kinetra/control_cycle.h>
#include <kinetra/driver.h>

#include "can/bus.h"
#include "devices/protocol/motor_controller_protocol.h"
#include "support/memory_interface.h"
#include "support/scripted_device.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <future>
#include <utility>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

// Named rather than anonymous: files of this directory share a translation unit
// in batched builds, and this one reuses its neighbours' helper names.
namespace control_cycles {

using kinetra::test::eventually;
using kinetra::test::MemoryInterface;
using kinetra::test::ScriptedDevice;
using namespace std::chrono_literals;
namespace motor = kinetra::protocol::motor;

constexpr uint8_t kDriverType = static_cast<uint8_t>(kinetra::protocol::DeviceType::Driver);
constexpr uint8_t kActuatorType = static_cast<uint8_t>(kinetra::protocol::DeviceType::Actuator);

std::vector<uint8_t> floatBytes(float value) {
    std::vector<uint8_t> bytes(8, 0);
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

/// Counts the batched sends, to see that a cycle writes its requests together.
class CountingInterface : public MemoryInterface {
public:
    // Closed here, while this class's overrides still stand for the receive thread.
    ~CountingInterface() override { closeInterface(); }
    unsigned char sendDataBatch(can_frame_data* frames, std::size_t count) override {
        batches.push_back(count);
        return MemoryInterface::sendDataBatch(frames, count);
    }
    std::vector<std::size_t> batches;  // written and read on the test's thread only
};

class ControlCycleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus.initInterface("mem"));
        ASSERT_TRUE(eventually([&] { return bus.isRunning(); }));
    }
    void waitPresent(uint32_t node) { ASSERT_TRUE(eventually([&] { return bus.isDeviceConnected(node); })); }
    int requestsTo(uint32_t node) {
        int count = 0;
        for (auto frame : bus.sentExceptHeartbeats()) count += getDeviceIdFromFrame(&frame) == node;
        return count;
    }

    CountingInterface bus;
};

// What each of four nodes does in one run.
enum class Role { Answers, Silent, Absent, ProxyDestroyed };

TEST_F(ControlCycleTest, EachReadGetsItsOwnStatusAndOnlyAnsweredValuesAreWritten) {
    struct Case {
        const char* name;
        std::vector<Role> roles;
        ret_status_t result;
    };
    const Case cases[] = {
        {"all answer", {Role::Answers, Role::Answers, Role::Answers, Role::Answers}, RET_OK},
        {"one silent", {Role::Answers, Role::Silent, Role::Answers, Role::Answers}, RET_TIMEOUT},
        {"one absent", {Role::Answers, Role::Answers, Role::Absent, Role::Answers}, RET_NOT_CONNECTED},
        {"one destroyed", {Role::ProxyDestroyed, Role::Answers, Role::Answers, Role::Answers}, RET_NOT_INITIALISED},
        {"every kind", {Role::Absent, Role::ProxyDestroyed, Role::Silent, Role::Answers}, RET_NOT_CONNECTED},
    };
    uint32_t first_node = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Nodes of their own: a node of an earlier case stays present for a while.
        first_node += 10;
        std::vector<std::unique_ptr<ScriptedDevice>> devices;
        std::vector<std::unique_ptr<Driver>> drivers;
        std::unique_ptr<Actuator> actuator;
        ControlCycle cycle(&bus);
        float values[4] = {-1, -1, -1, -1};
        for (uint32_t i = 0; i < 4; ++i) {
            const uint32_t node = first_node + i;
            const Role role = c.roles[i];
            if (role != Role::Absent) {
                devices.push_back(std::make_unique<ScriptedDevice>(bus, node, i == 3 ? kActuatorType : kDriverType));
                if (role != Role::Silent) devices.back()->answer(motor::kGetMotorPosition, floatBytes(1.5f + i));
                waitPresent(node);
            }
            // The last node is an actuator: one cycle mixes proxy classes.
            if (i == 3) {
                actuator = std::make_unique<Actuator>(node, &bus);
                EXPECT_EQ(cycle.add(*actuator, MotorReading::MotorPosition, &values[i]), i);
            } else {
                drivers.push_back(std::make_unique<Driver>(node, &bus));
                EXPECT_EQ(cycle.add(*drivers.back(), MotorReading::MotorPosition, &values[i]), i);
            }
        }
        for (uint32_t i = 0; i < 4; ++i) {
            if (c.roles[i] != Role::ProxyDestroyed) continue;
            if (i == 3) {
                actuator.reset();
            } else {
                drivers[i].reset();
            }
        }
        bus.clearSent();
        bus.batches.clear();
        EXPECT_EQ(cycle.run(), c.result);

        std::size_t expected_requests = 0;
        for (uint32_t i = 0; i < 4; ++i) {
            const Role role = c.roles[i];
            const ret_status_t expected = role == Role::Answers          ? RET_OK
                                          : role == Role::Silent         ? RET_TIMEOUT
                                          : role == Role::Absent         ? RET_NOT_CONNECTED
                                                                         : RET_NOT_INITIALISED;
            EXPECT_EQ(cycle.status(i), expected) << "read " << i;
            EXPECT_EQ(values[i], role == Role::Answers ? 1.5f + i : -1.0f) << "read " << i;
            const bool sent = role == Role::Answers || role == Role::Silent;
            EXPECT_EQ(requestsTo(first_node + i), sent ? 1 : 0) << "read " << i;
            expected_requests += sent;
        }
        // One write for all the requests of the cycle.
        EXPECT_EQ(bus.batches, std::vector<std::size_t>{expected_requests});
    }
}

TEST_F(ControlCycleTest, FailedSendEndsEveryArmedReadAsNotRunning) {
    ScriptedDevice device(bus, 20, kDriverType);
    device.answer(motor::kGetMotorVelocity, floatBytes(3.0f));
    Driver driver(20, &bus);
    waitPresent(20);
    ControlCycle cycle(&bus);
    float velocity = -1.0f;
    cycle.add(driver, MotorReading::MotorVelocity, &velocity);
    bus.setSendFails(true);
    EXPECT_EQ(cycle.run(), RET_NOT_RUNNING);
    EXPECT_EQ(cycle.status(0), RET_NOT_RUNNING);
    // Now the guard refuses before anything is sent.
    EXPECT_EQ(cycle.run(), RET_NOT_RUNNING);
    bus.setSendFails(false);
    can_frame_data probe{};
    bus.sendFrame(&probe);
    EXPECT_EQ(cycle.run(), RET_OK);
    EXPECT_EQ(velocity, 3.0f);
}

// A proxy could hold one pending read, so position and velocity of one motor took two round trips.
TEST_F(ControlCycleTest, ReadsOfDifferentCommandsOfOneProxyArePendingTogether) {
    ScriptedDevice device(bus, 21, kDriverType);
    std::vector<uint8_t> two(8, 0);
    const float volts = 24.0f, amps = 1.5f;
    std::memcpy(two.data(), &volts, 4);
    std::memcpy(two.data() + 4, &amps, 4);
    device.answer(motor::kGetTemperatures, floatBytes(40.0f));
    device.answer(motor::kGetBusVoltageCurrent, two);
    device.answer(motor::kGetControllerState, {8, 0, 0, 0, 0, 0, 0, 0});
    device.answer(motor::kGetMotorState, {0b10, 0, 0, 0, 0, 0, 0, 0});
    Driver driver(21, &bus);
    waitPresent(21);
    ControlCycle cycle(&bus);
    float temperature = 0, voltage = -1, current = -1, again = -1;
    unsigned char state = 0;
    bool calibrated = true, armed = false;
    EXPECT_EQ(cycle.status(0), RET_INVALID_ARGUMENT);
    cycle.add(driver, MotorReading::MotorTemperature, &temperature);
    cycle.add(driver, MotorReading::BusVoltageCurrent, {&voltage, &current});
    cycle.add(driver, MotorReading::ControllerState, {&state});
    cycle.add(driver, MotorReading::MotorState, {&calibrated, &armed});
    // The same command again: its reply could not be told from the first's.
    cycle.add(driver, MotorReading::BusVoltage, &again);
    EXPECT_EQ(cycle.size(), 5u);
    EXPECT_EQ(cycle.status(0), RET_TIMEOUT);  // not run yet
    bus.clearSent();
    bus.batches.clear();
    EXPECT_EQ(cycle.run(), RET_INVALID_ARGUMENT);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(cycle.status(i), RET_OK) << "entry " << i;
    EXPECT_EQ(cycle.status(4), RET_INVALID_ARGUMENT);
    EXPECT_EQ(temperature, 40.0f);
    EXPECT_EQ(voltage, 24.0f);
    EXPECT_EQ(current, 1.5f);
    EXPECT_EQ(state, 8);
    EXPECT_FALSE(calibrated);
    EXPECT_TRUE(armed);
    EXPECT_EQ(again, -1.0f);
    EXPECT_EQ(cycle.status(5), RET_INVALID_ARGUMENT);
    EXPECT_EQ(bus.batches, std::vector<std::size_t>{4});
}

// One write per bus, commands first: a set point sent after the reads would act a run late.
TEST_F(ControlCycleTest, EachBusGetsOneWriteOfItsCommandsThenItsRequests) {
    CountingInterface other;
    ASSERT_TRUE(other.initInterface("mem"));
    ASSERT_TRUE(eventually([&] { return other.isRunning(); }));
    // Node 40 on both buses: identifiers may repeat across buses.
    ScriptedDevice here(bus, 40, kDriverType), there(other, 40, kActuatorType), second(bus, 41, kDriverType);
    here.answer(motor::kGetMotorPosition, floatBytes(1.0f));
    here.answer(motor::kGetMotorVelocity, floatBytes(2.0f));
    second.answer(motor::kGetMotorPosition, floatBytes(3.0f));
    there.answer(motor::kGetOutputTorque, floatBytes(4.0f));
    waitPresent(40);
    waitPresent(41);
    ASSERT_TRUE(eventually([&] { return other.isDeviceConnected(40); }));
    Driver a(40, &bus), b(41, &bus);
    Actuator c(40, &other);
    ControlCycle cycle;
    float values[4] = {};
    cycle.add(a, MotorReading::MotorPosition, &values[0]);
    const std::size_t position = cycle.add(a, MotorCommand::PositionControl, 2.5f);
    cycle.add(c, MotorReading::OutputTorque, &values[3]);
    cycle.add(b, MotorReading::MotorPosition, &values[2]);
    cycle.add(c, MotorCommand::TorqueControl, -0.5f);
    cycle.add(a, MotorReading::MotorVelocity, &values[1]);
    cycle.add(b, MotorCommand::Active);
    ASSERT_EQ(cycle.setSetpoint(position, 3.25f), RET_OK);
    bus.clearSent();
    bus.batches.clear();
    other.clearSent();
    other.batches.clear();
    ASSERT_EQ(cycle.run(), RET_OK);
    EXPECT_EQ(values[0], 1.0f);
    EXPECT_EQ(values[1], 2.0f);
    EXPECT_EQ(values[2], 3.0f);
    EXPECT_EQ(values[3], 4.0f);

    struct Sent {
        uint32_t node;
        uint8_t command;
        bool remote;
        uint8_t dlc;
        float setpoint;  // the payload's first value; 0 for none
        bool operator==(const Sent& o) const {
            return node == o.node && command == o.command && remote == o.remote && dlc == o.dlc &&
                   setpoint == o.setpoint;
        }
    };
    const auto sentOn = [](CountingInterface& iface) {
        std::vector<Sent> sent;
        for (can_frame_data frame : iface.sentExceptHeartbeats()) {
            float first = 0;
            std::memcpy(&first, frame.data, sizeof first);
            sent.push_back({getDeviceIdFromFrame(&frame), getCommandIdFromFrame(&frame), getRtrFromFrame(&frame) != 0,
                            frame.can_dlc, first});
        }
        return sent;
    };
    const std::vector<Sent> expected_here = {{40, motor::kSetPositionControl, false, 8, 3.25f},
                                             {41, motor::kSetDeviceToActive, false, 0, 0.0f},
                                             {40, motor::kGetMotorPosition, true, 8, 0.0f},
                                             {41, motor::kGetMotorPosition, true, 8, 0.0f},
                                             {40, motor::kGetMotorVelocity, true, 8, 0.0f}};
    const std::vector<Sent> expected_there = {{40, motor::kSetTorqueControl, false, 8, -0.5f},
                                              {40, motor::kGetOutputTorque, true, 8, 0.0f}};
    EXPECT_TRUE(sentOn(bus) == expected_here);
    EXPECT_TRUE(sentOn(other) == expected_there);
    EXPECT_EQ(bus.batches, std::vector<std::size_t>{5});
    EXPECT_EQ(other.batches, std::vector<std::size_t>{2});
    // Each status on its own: every command sent.
    for (std::size_t i = 0; i < cycle.size(); ++i) EXPECT_EQ(cycle.status(i), RET_OK) << "entry " << i;
}

// Refusals: each a defined status, never a crash, a hang or a frame on the bus.
TEST_F(ControlCycleTest, BadEntriesAndBadRunsAreRefusedAndSendNothing) {
    ScriptedDevice device(bus, 42, kActuatorType);
    device.answer(motor::kGetMotorPosition, floatBytes(1.0f));
    waitPresent(42);
    Actuator actuator(42, &bus);
    float value = -1, nan_value = std::nanf(""), inf_value = HUGE_VALF;
    int wrong_type = 0;
    struct Case {
        const char* what;
        std::function<std::size_t(ControlCycle&)> add;
        ret_status_t status;
    };
    const Case cases[] = {
        {"a read the class does not have",
         [&](ControlCycle& c) { return c.add(actuator, MotorReading::BrakeCurrent, &value); }, RET_INVALID_ARGUMENT},
        {"a value of the wrong type",
         [&](ControlCycle& c) { return c.add(actuator, MotorReading::MotorPosition, {&wrong_type}); },
         RET_INVALID_ARGUMENT},
        {"more values than the reply has",
         [&](ControlCycle& c) { return c.add(actuator, MotorReading::MotorPosition, {&value, &value}); },
         RET_INVALID_ARGUMENT},
        {"a null value", [&](ControlCycle& c) { return c.add(actuator, MotorReading::MotorPosition, nullptr); },
         RET_INVALID_ARGUMENT},
        {"a NaN set point",
         [&](ControlCycle& c) { return c.add(actuator, MotorCommand::PositionControl, nan_value); },
         RET_INVALID_ARGUMENT},
        {"an infinite set point",
         [&](ControlCycle& c) { return c.add(actuator, MotorCommand::VelocityControl, inf_value); },
         RET_INVALID_ARGUMENT},
        {"a set point made NaN",
         [&](ControlCycle& c) {
             const std::size_t index = c.add(actuator, MotorCommand::TorqueControl, 1.0f);
             EXPECT_EQ(c.setSetpoint(index, nan_value), RET_INVALID_ARGUMENT);
             return index;
         },
         RET_INVALID_ARGUMENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ControlCycle cycle(&bus);
        const std::size_t index = c.add(cycle);
        bus.clearSent();
        EXPECT_EQ(cycle.run(), c.status);
        EXPECT_EQ(cycle.status(index), c.status);
        EXPECT_TRUE(bus.sentExceptHeartbeats().empty());
        EXPECT_EQ(value, -1.0f);
    }
    ControlCycle cycle(&bus);
    EXPECT_EQ(cycle.run(), RET_INVALID_ARGUMENT) << "no entries";
    const std::size_t idle = cycle.add(actuator, MotorCommand::Idle);
    EXPECT_EQ(cycle.setSetpoint(idle, 1.0f), RET_INVALID_ARGUMENT) << "no set point to change";
    EXPECT_EQ(cycle.setSetpoint(99, 1.0f), RET_INVALID_ARGUMENT);

    // run() from an interface callback: its replies could never come.
    std::promise<ret_status_t> from_callback;
    bus.setFrameObserver([&, once = true](const can_frame_data&) mutable {
        if (std::exchange(once, false)) from_callback.set_value(cycle.run());
    });
    auto result = from_callback.get_future();
    ASSERT_EQ(result.wait_for(3s), std::future_status::ready);
    EXPECT_EQ(result.get(), RET_INVALID_ARGUMENT);
    bus.setFrameObserver({});

    // Two threads at once: the second is refused while the first waits for a silent node.
    ControlCycle waiting(&bus);
    device.setRepliesStopped(true);
    waiting.add(actuator, MotorReading::MotorPosition, &value);
    bus.clearSent();
    auto first = std::async(std::launch::async, [&] { return waiting.run(); });
    const auto positionRequest = [](const can_frame_data& sent) {
        can_frame_data frame = sent;
        return getCommandIdFromFrame(&frame) == motor::kGetMotorPosition;
    };
    ASSERT_TRUE(bus.waitForSent(positionRequest, 3000ms));
    EXPECT_EQ(waiting.run(), RET_INVALID_ARGUMENT);
    EXPECT_EQ(first.get(), RET_TIMEOUT);
}

// An interface closed under its proxies: the guard refuses before anything is sent.
TEST_F(ControlCycleTest, AProxyOfAClosedInterfaceIsNotRunning) {
    MemoryInterface closed;
    Driver driver(43, &closed);
    ControlCycle cycle;
    float value = -1;
    cycle.add(driver, MotorReading::MotorPosition, &value);
    cycle.add(driver, MotorCommand::Idle);
    EXPECT_EQ(cycle.run(), RET_NOT_RUNNING);
    EXPECT_EQ(cycle.status(1), RET_NOT_RUNNING);
    EXPECT_TRUE(closed.sent().empty());
}

// A reply that came after its cycle's wait was taken for the next cycle's answer.
TEST_F(ControlCycleTest, AReplyAfterTheWaitIsDroppedAndNeverAnswersTheNextCycle) {
    ScriptedDevice device(bus, 22, kDriverType);
    device.answer(motor::kGetOutputTorque, floatBytes(7.0f));
    device.setReplyDelay(300ms);
    Driver driver(22, &bus);
    waitPresent(22);
    ControlCycle cycle(&bus);
    float torque = -1.0f;
    cycle.add(driver, MotorReading::OutputTorque, &torque);
    EXPECT_EQ(cycle.run(), RET_TIMEOUT);
    // The late reply arrives between the cycles.
    device.setRepliesStopped(true);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(torque, -1.0f);
    EXPECT_EQ(cycle.run(), RET_TIMEOUT);
    EXPECT_EQ(torque, -1.0f);
    // And the cycle still works once the device answers in time.
    device.setReplyDelay(0ms);
    device.setRepliesStopped(false);
    EXPECT_EQ(cycle.run(), RET_OK);
    EXPECT_EQ(torque, 7.0f);
}

// Each read was given its own full wait, so a cycle of late replies took one bound per read.
TEST_F(ControlCycleTest, OneBoundForTheWholeCycleAndNothingLeftFromTheRunBefore) {
    std::vector<std::unique_ptr<ScriptedDevice>> devices;
    std::vector<std::unique_ptr<Driver>> drivers;
    ControlCycle cycle(&bus);
    float values[3] = {};
    for (uint32_t i = 0; i < 3; ++i) {
        devices.push_back(std::make_unique<ScriptedDevice>(bus, 30 + i, kDriverType));
        devices.back()->answer(motor::kGetMotorVelocity, floatBytes(1.5f + i));
        waitPresent(30 + i);
        drivers.push_back(std::make_unique<Driver>(30 + i, &bus));
        cycle.add(*drivers.back(), MotorReading::MotorVelocity, &values[i]);
    }
    ASSERT_EQ(cycle.run(), RET_OK);
    EXPECT_EQ(values[2], 3.5f);

    // Now the first two stay silent and the third answers 450 ms after its
    // request. The cycle's one 200 ms bound ends every read. Were each read given
    // a full wait of its own, the third's would start when the second's ended,
    // 400 ms in at the earliest, and the reply would land in it. A sound cycle
    // has 250 ms to spare, so load cannot fail it; the fault shows unless the
    // reply is 150 ms late. No value or status of the run before may stay.
    devices[0]->setRepliesStopped(true);
    devices[1]->setRepliesStopped(true);
    devices[2]->setReplyDelay(450ms);
    std::fill(std::begin(values), std::end(values), -1.0f);
    EXPECT_EQ(cycle.run(), RET_TIMEOUT);
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(cycle.status(i), RET_TIMEOUT) << "read " << i;
        EXPECT_EQ(values[i], -1.0f) << "read " << i;
    }
}

TEST_F(ControlCycleTest, ANodeLostBetweenCyclesIsNotConnectedAndTheOthersGoOn) {
    ScriptedDevice kept(bus, 23, kDriverType);
    ScriptedDevice lost(bus, 24, kDriverType);
    kept.answer(motor::kGetOutputPosition, floatBytes(1.0f));
    lost.answer(motor::kGetOutputPosition, floatBytes(2.0f));
    Driver first(23, &bus);
    Driver second(24, &bus);
    waitPresent(23);
    waitPresent(24);
    ControlCycle cycle(&bus);
    float positions[2] = {0, 0};
    cycle.add(first, MotorReading::OutputPosition, &positions[0]);
    cycle.add(second, MotorReading::OutputPosition, &positions[1]);
    ASSERT_EQ(cycle.run(), RET_OK);
    lost.setHeartbeatsStopped(true);
    ASSERT_TRUE(eventually([&] { return !bus.isDeviceConnected(24); }, 3000ms));
    bus.clearSent();
    positions[1] = -1;
    EXPECT_EQ(cycle.run(), RET_NOT_CONNECTED);
    EXPECT_EQ(cycle.status(0), RET_OK);
    EXPECT_EQ(cycle.status(1), RET_NOT_CONNECTED);
    EXPECT_EQ(positions[1], -1.0f);
    EXPECT_EQ(requestsTo(24), 0);
    // Back on the bus, it is read again.
    lost.setHeartbeatsStopped(false);
    waitPresent(24);
    EXPECT_EQ(cycle.run(), RET_OK);
    EXPECT_EQ(positions[1], 2.0f);
}

TEST_F(ControlCycleTest, ProxiesAndCyclesMayGoInEitherOrder) {
    ScriptedDevice device(bus, 25, kDriverType);
    device.answer(motor::kGetMotorTorque, floatBytes(5.0f));
    waitPresent(25);
    float torque = 0;
    {
        auto driver = std::make_unique<Driver>(25, &bus);
        auto cycle = std::make_unique<ControlCycle>(&bus);
        cycle->add(*driver, MotorReading::MotorTorque, &torque);
        ASSERT_EQ(cycle->run(), RET_OK);
        cycle.reset();  // the cycle first: the proxy still answers blocking reads
        float again = 0;
        EXPECT_EQ(driver->getMotorTorque(&again), RET_OK);
        EXPECT_EQ(again, 5.0f);
    }
    {
        auto driver = std::make_unique<Driver>(25, &bus);
        ControlCycle cycle(&bus);
        cycle.add(*driver, MotorReading::MotorTorque, &torque);
        driver.reset();  // the proxy first: its read fails, nothing is sent
        bus.clearSent();
        EXPECT_EQ(cycle.run(), RET_NOT_INITIALISED);
        EXPECT_EQ(requestsTo(25), 0);
    }
}

}  // namespace control_cycles
