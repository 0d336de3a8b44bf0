// Driver and Actuator end to end against the simulated devices, through
// USBInterface, the serial layer and the simulator's virtual adapter: the
// configuration reads back, set points move the motor, save and erase act across
// a reboot, and the codes a test sets arrive mapped.

#include "kinetra_sim/actuator_node.h"
#include "kinetra_sim/driver_node.h"
#include "kinetra_sim/simulator.h"

#include <kinetra/actuator.h>
#include <kinetra/driver.h>
#include <kinetra/usb_interface.h>

#include "support/wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using kinetra::sim::ControllerState;
using kinetra::sim::ControlMode;
using kinetra::sim::DriverNode;
using kinetra::sim::MotorFirmware;
using kinetra::sim::NodeKind;
using kinetra::sim::Simulator;
using kinetra::test::eventually;

constexpr unsigned kDriverNode = 1;
constexpr unsigned kActuatorNode = 2;

class MotorSimulatorTest : public ::testing::Test {
protected:
    MotorSimulatorTest() : sim({{NodeKind::Driver, kDriverNode}, {NodeKind::Actuator, kActuatorNode}}) {
        sim.start();
        sim.registerAsAdapter();
    }
    ~MotorSimulatorTest() override { iface.closeInterface(); }

    void SetUp() override {
        ASSERT_TRUE(iface.initInterface(sim.portName()));
        // Running turns true with the interface's first heartbeat, which may come
        // after the nodes' first ones.
        ASSERT_TRUE(eventually(
            [&] {
                return iface.isRunning() && iface.isDeviceConnected(kDriverNode) &&
                       iface.isDeviceConnected(kActuatorNode);
            },
            3000ms));
    }

    /// Reads `read` until `done` holds for its value, at most `timeout`.
    template <typename T>
    bool readUntil(std::function<ret_status_t(T*)> read, std::function<bool(T)> done, std::chrono::milliseconds timeout,
                   T* last = nullptr) {
        T value{};
        const bool ok = eventually([&] { return read(&value) == RET_OK && done(value); }, timeout);
        if (last != nullptr) *last = value;
        return ok;
    }

    DriverNode& driverNode() { return sim.nodeAs<DriverNode>(kDriverNode); }

    Simulator sim;
    USBInterface iface;
};

// ---- Configuration round trips.

struct RoundTrip {
    std::string name;
    std::function<void(Driver&)> check;
};

std::vector<RoundTrip> driverRoundTrips() {
    return {
        RoundTrip{"DC bus trip levels", [](Driver& d) {
            ASSERT_EQ(d.setDCBusTripLevels(11.5f, 47.0f), RET_OK);
            float under = 0, over = 0;
            ASSERT_EQ(d.getDCBusTripLevels(&under, &over), RET_OK);
            EXPECT_EQ(under, 11.5f);
            EXPECT_EQ(over, 47.0f);
        }},
        RoundTrip{"brake resistor", [](Driver& d) {
            ASSERT_EQ(d.enableBrakeResistor(3.3f), RET_OK);
            bool enabled = false, c = true, x = true;
            float r = 0;
            ASSERT_EQ(d.getBrakeResistorState(&enabled, &r, &c, &x), RET_OK);
            EXPECT_TRUE(enabled);
            EXPECT_EQ(r, 3.3f);
            ASSERT_EQ(d.disableBrakeResistor(), RET_OK);
            ASSERT_EQ(d.getBrakeResistorState(&enabled, &r, &c, &x), RET_OK);
            EXPECT_FALSE(enabled);
        }},
        RoundTrip{"regen trip level", [](Driver& d) {
            ASSERT_EQ(d.setRegenCurrentTripLevel(-7.25f), RET_OK);
            float v = 0;
            ASSERT_EQ(d.getRegenCurrentTripLevel(&v), RET_OK);
            EXPECT_EQ(v, -7.25f);
        }},
        RoundTrip{"motor parameters", [](Driver& d) {
            ASSERT_EQ(d.setMotorParameters(21, 270, 35.5f), RET_OK);
            unsigned char poles = 0;
            unsigned short kv = 0;
            float limit = 0;
            ASSERT_EQ(d.getMotorParameters(&poles, &kv, &limit), RET_OK);
            EXPECT_EQ(poles, 21);
            EXPECT_EQ(kv, 270);
            EXPECT_EQ(limit, 35.5f);
        }},
        RoundTrip{"calibration parameters", [](Driver& d) {
            ASSERT_EQ(d.setMotorCalibrationParameters(3.0f, 12.0f), RET_OK);
            float v = 0, i = 0;
            ASSERT_EQ(d.getMotorCalibrationParameters(&v, &i), RET_OK);
            EXPECT_EQ(v, 3.0f);
            EXPECT_EQ(i, 12.0f);
        }},
        RoundTrip{"gear box", [](Driver& d) {
            ASSERT_EQ(d.setGearBoxParameters(6.5f), RET_OK);
            float ratio = 0;
            ASSERT_EQ(d.getGearBoxParameters(&ratio), RET_OK);
            EXPECT_EQ(ratio, 6.5f);
        }},
        RoundTrip{"controller gains and bandwidths", [](Driver& d) {
            ASSERT_EQ(d.setPositionControllerGain(35.0f), RET_OK);
            ASSERT_EQ(d.setVelocityControllerGains(0.25f, 0.5f), RET_OK);
            ASSERT_EQ(d.setCurrentControllerBandwidth(1500.0f), RET_OK);
            ASSERT_EQ(d.setMotorEncoderBandwidth(800.0f), RET_OK);
            float gain = 0, integrator = 0, bandwidth = 0, encoder = 0;
            ASSERT_EQ(d.getPositionControllerGain(&gain), RET_OK);
            EXPECT_EQ(gain, 35.0f);
            ASSERT_EQ(d.getVelocityControllerGains(&gain, &integrator), RET_OK);
            EXPECT_EQ(gain, 0.25f);
            EXPECT_EQ(integrator, 0.5f);
            ASSERT_EQ(d.getCurrentControllerBandwidth(&bandwidth), RET_OK);
            EXPECT_EQ(bandwidth, 1500.0f);
            ASSERT_EQ(d.getMotorEncoderBandwidth(&encoder), RET_OK);
            EXPECT_EQ(encoder, 800.0f);
        }},
        RoundTrip{"thermistor and thermal limit", [](Driver& d) {
            ASSERT_EQ(d.setMotorThermistorParameters(4700.0f, 3380), RET_OK);
            ASSERT_EQ(d.enableMotorThermalLimit(85), RET_OK);
            bool enabled = false;
            float r = 0;
            unsigned short beta = 0;
            unsigned char upper = 0, lower = 0;
            ASSERT_EQ(d.getMotorThermistorConfiguration(&enabled, &r, &beta, &upper, &lower), RET_OK);
            EXPECT_TRUE(enabled);
            EXPECT_EQ(r, 4700.0f);
            EXPECT_EQ(beta, 3380);
            EXPECT_EQ(upper, 85);
            EXPECT_EQ(lower, 75);
            ASSERT_EQ(d.disableMotorThermalLimit(), RET_OK);
            ASSERT_EQ(d.getMotorThermistorConfiguration(&enabled, &r, &beta, &upper, &lower), RET_OK);
            EXPECT_FALSE(enabled);
            EXPECT_EQ(r, 4700.0f) << "the limit command leaves the thermistor parameters";
        }},
        RoundTrip{"filters", [](Driver& d) {
            ASSERT_EQ(d.setCurrentFilter(0.3f), RET_OK);
            ASSERT_EQ(d.setEncoderDataFilter(0.7f), RET_OK);
            float current = 0, encoder = 0;
            ASSERT_EQ(d.getCurrentFilter(&current), RET_OK);
            ASSERT_EQ(d.getEncoderDataFilter(&encoder), RET_OK);
            EXPECT_EQ(current, 0.3f);
            EXPECT_EQ(encoder, 0.7f);
        }},
        RoundTrip{"start-up", [](Driver& d) {
            ASSERT_EQ(d.setStartupConfigs(true, false, true), RET_OK);
            bool a = false, b = true, c = false;
            ASSERT_EQ(d.getStartupConfigs(&a, &b, &c), RET_OK);
            EXPECT_TRUE(a);
            EXPECT_FALSE(b);
            EXPECT_TRUE(c);
        }},
        RoundTrip{"phase parameters, torque limit, motor type", [](Driver& d) {
            ASSERT_EQ(d.setMotorPhaseParameters(0.12f, 4e-5f), RET_OK);
            ASSERT_EQ(d.setMotorTorqueLimit(0.8f), RET_OK);
            ASSERT_EQ(d.setMotorType(2), RET_OK);
            float r = 0, l = 0, limit = 0;
            unsigned char type = 0;
            ASSERT_EQ(d.getMotorPhaseParameters(&r, &l), RET_OK);
            EXPECT_EQ(r, 0.12f);
            EXPECT_EQ(l, 4e-5f);
            ASSERT_EQ(d.getMotorTorqueLimit(&limit), RET_OK);
            EXPECT_EQ(limit, 0.8f);
            ASSERT_EQ(d.getMotorType(&type), RET_OK);
            EXPECT_EQ(type, 2);
        }},
        RoundTrip{"bit rate", [](Driver& d) {
            CANBaudRate rate = CAN_BAUD_10K;
            ASSERT_EQ(d.getCANBaudRate(&rate), RET_OK);
            EXPECT_EQ(rate, CAN_BAUD_500K);
            ASSERT_EQ(d.setCANBaudRate(CAN_BAUD_1M), RET_OK);
            ASSERT_EQ(d.getCANBaudRate(&rate), RET_OK);
            EXPECT_EQ(rate, CAN_BAUD_1M);
        }},
        RoundTrip{"encoders", [](Driver& d) {
            ASSERT_EQ(d.configureMotorEncoder(9, -4096, true), RET_OK);
            ASSERT_EQ(d.configureOutputEncoder(4, 8192, false), RET_OK);
            unsigned char type = 0;
            int resolution = 0;
            bool index = false;
            ASSERT_EQ(d.getMotorEncoderConfiguration(&type, &resolution, &index), RET_OK);
            EXPECT_EQ(type, 9);
            EXPECT_EQ(resolution, -4096);
            EXPECT_TRUE(index);
            ASSERT_EQ(d.getOutputEncoderConfiguration(&type, &resolution, &index), RET_OK);
            EXPECT_EQ(type, 4);
            EXPECT_EQ(resolution, 8192);
            EXPECT_FALSE(index);
            bool enabled = false, ready = false;
            ASSERT_EQ(d.getOutputEncoderState(&enabled, &ready), RET_OK);
            EXPECT_TRUE(enabled);
            ASSERT_EQ(d.disableOutputEncoder(), RET_OK);
            ASSERT_EQ(d.getOutputEncoderState(&enabled, &ready), RET_OK);
            EXPECT_FALSE(enabled);
        }},
        RoundTrip{"sensor chip registers, one file per selector", [](Driver& d) {
            ASSERT_EQ(d.setMAxxxSPIRegister(false, 0x81, 0x5A), RET_OK);
            ASSERT_EQ(d.setMAxxxSPIRegister(true, 0x81, 0xA5), RET_OK);
            ASSERT_EQ(d.setMAxxxBCTValue(true, 17), RET_OK);
            ASSERT_EQ(d.setMAxxxFilterWindow(false, 0x33), RET_OK);
            ASSERT_EQ(d.setMAxxxTrimmingSettings(true, false, true), RET_OK);
            unsigned char value = 0;
            bool flag = false, first = true, second = false;
            ASSERT_EQ(d.getMAxxxSPIRegister(false, 0x81, &value, &flag), RET_OK);
            EXPECT_EQ(value, 0x5A);
            ASSERT_EQ(d.getMAxxxSPIRegister(true, 0x81, &value, &flag), RET_OK);
            EXPECT_EQ(value, 0xA5);
            ASSERT_EQ(d.getMAxxxBCTValue(true, &value, &flag), RET_OK);
            EXPECT_EQ(value, 17);
            ASSERT_EQ(d.getMAxxxFilterWindow(false, &value, &flag), RET_OK);
            EXPECT_EQ(value, 0x33);
            ASSERT_EQ(d.getMAxxxTrimmingSettings(true, &first, &second, &flag), RET_OK);
            EXPECT_FALSE(first);
            EXPECT_TRUE(second);
        }},
    };
}

TEST_F(MotorSimulatorTest, DriverConfigurationReadsBack) {
    Driver driver(kDriverNode, &iface);
    for (const RoundTrip& trip : driverRoundTrips()) {
        SCOPED_TRACE(trip.name);
        trip.check(driver);
    }
}

TEST_F(MotorSimulatorTest, ActuatorConfigurationReadsBack) {
    Actuator actuator(kActuatorNode, &iface);
    ASSERT_EQ(actuator.setVelocityControllerGains(0.4f, 0.8f), RET_OK);
    ASSERT_EQ(actuator.setCurrentFilter(0.2f), RET_OK);
    ASSERT_EQ(actuator.enableMotorThermalLimit(90), RET_OK);
    float gain = 0, integrator = 0, filter = 0;
    ASSERT_EQ(actuator.getVelocityControllerGains(&gain, &integrator), RET_OK);
    EXPECT_EQ(gain, 0.4f);
    EXPECT_EQ(integrator, 0.8f);
    ASSERT_EQ(actuator.getCurrentFilter(&filter), RET_OK);
    EXPECT_EQ(filter, 0.2f);
    bool enabled = false;
    unsigned short upper = 0, lower = 0;
    unsigned char motor_t = 0, driver_t = 0;
    ASSERT_EQ(actuator.getMotorThermistorConfiguration(&enabled, &upper, &lower, &motor_t, &driver_t), RET_OK);
    EXPECT_TRUE(enabled);
    EXPECT_EQ(upper, 90);
    EXPECT_GE(motor_t, 20);
    EXPECT_LE(motor_t, 40);
}

// ---- Motion.

TEST_F(MotorSimulatorTest, PositionCommandMovesTheMotorThere) {
    Driver driver(kDriverNode, &iface);
    ASSERT_EQ(driver.setGearBoxParameters(4.0f), RET_OK);
    ASSERT_EQ(driver.setPositionControl(3.0f, 0.0f), RET_OK);
    std::this_thread::sleep_for(50ms);
    float position = -1;
    ASSERT_EQ(driver.getMotorPosition(&position), RET_OK);
    EXPECT_EQ(position, 0.0f) << "an idle controller does not move";

    ASSERT_EQ(driver.setDeviceToActive(), RET_OK);
    float speed = 0;
    EXPECT_TRUE(readUntil<float>([&](float* v) { return driver.getMotorVelocity(v); },
                                 [](float v) { return v > 0.5f; }, 2000ms, &speed));
    EXPECT_TRUE(readUntil<float>([&](float* p) { return driver.getMotorPosition(p); },
                                 [](float p) { return std::fabs(p - 3.0f) < 0.01f; }, 3000ms, &position))
        << "stopped at " << position;
    float output = 0;
    ASSERT_EQ(driver.getOutputPosition(&output), RET_OK);
    EXPECT_NEAR(output, 0.75f, 0.01f) << "the output turns once per four motor turns";
    unsigned char state = 0;
    unsigned short mode = 0;
    ASSERT_EQ(driver.getControllerState(&state), RET_OK);
    ASSERT_EQ(driver.getControllerMode(&mode), RET_OK);
    EXPECT_EQ(state, static_cast<unsigned char>(ControllerState::Active));
    EXPECT_EQ(mode, static_cast<unsigned short>(ControlMode::Position));
}

TEST_F(MotorSimulatorTest, TrajectoryReportsWhenItIsDone) {
    Actuator actuator(kActuatorNode, &iface);
    ASSERT_EQ(actuator.setDeviceToActive(), RET_OK);
    ASSERT_EQ(actuator.setTrapezoidalTrajectoryControl(-2.0f, 8.0f, 25.0f, 25.0f), RET_OK);
    bool done = true;
    ASSERT_EQ(actuator.getTrajectoryDoneStatus(&done), RET_OK);
    EXPECT_FALSE(done);
    EXPECT_TRUE(readUntil<bool>([&](bool* d) { return actuator.getTrajectoryDoneStatus(d); }, [](bool d) { return d; },
                                3000ms));
    float position = 0, output = 0;
    ASSERT_EQ(actuator.getMotorPosition(&position), RET_OK);
    ASSERT_EQ(actuator.getOutputPosition(&output), RET_OK);
    EXPECT_EQ(position, -2.0f);
    EXPECT_NEAR(output, -2.0f / 9.0f, 1e-5f);
    unsigned short mode = 0;
    ASSERT_EQ(actuator.getControllerMode(&mode), RET_OK);
    EXPECT_EQ(mode, static_cast<unsigned short>(ControlMode::TrapezoidalTrajectory));
}

TEST_F(MotorSimulatorTest, EmergencyStopHaltsUntilErrorsAreCleared) {
    Driver driver(kDriverNode, &iface);
    ASSERT_EQ(driver.setDeviceToActive(), RET_OK);
    ASSERT_EQ(driver.setVelocityControl(5.0f), RET_OK);
    EXPECT_TRUE(readUntil<float>([&](float* v) { return driver.getMotorVelocity(v); },
                                 [](float v) { return std::fabs(v - 5.0f) < 0.05f; }, 2000ms));
    ASSERT_EQ(driver.emergencyStop(), RET_OK);
    EXPECT_TRUE(readUntil<float>([&](float* v) { return driver.getMotorVelocity(v); },
                                 [](float v) { return v == 0.0f; }, 2000ms));
    ASSERT_EQ(driver.setDeviceToActive(), RET_OK);
    unsigned char state = 0;
    ASSERT_EQ(driver.getControllerState(&state), RET_OK);
    EXPECT_EQ(state, static_cast<unsigned char>(ControllerState::EmergencyStop));
    driver_error_t error = DRIVER_ERROR_0;
    ASSERT_EQ(driver.getErrorCode(&error), RET_OK);
    EXPECT_EQ(error, static_cast<driver_error_t>(MotorFirmware::kEmergencyStopError));

    ASSERT_EQ(driver.clearDriverErrors(), RET_OK);
    ASSERT_EQ(driver.getControllerState(&state), RET_OK);
    EXPECT_EQ(state, static_cast<unsigned char>(ControllerState::Idle));
    ASSERT_EQ(driver.getErrorCode(&error), RET_OK);
    EXPECT_EQ(error, DRIVER_ERROR_0);
}

TEST_F(MotorSimulatorTest, TelemetryIsPlausible) {
    Driver driver(kDriverNode, &iface);
    float voltage = 0, idle_current = 0, motor_t = 0, driver_t = 0;
    ASSERT_EQ(driver.getBusVoltage(&voltage), RET_OK);
    ASSERT_EQ(driver.getBusCurrent(&idle_current), RET_OK);
    ASSERT_EQ(driver.getMotorTemperature(&motor_t), RET_OK);
    ASSERT_EQ(driver.getDriverTemperature(&driver_t), RET_OK);
    EXPECT_EQ(voltage, 24.0f);
    EXPECT_GT(motor_t, 15.0f);
    EXPECT_LT(motor_t, 60.0f);
    EXPECT_GT(driver_t, 15.0f);
    EXPECT_LT(driver_t, 60.0f);

    // Under torque the motor draws current; the third phase current balances the others.
    ASSERT_EQ(driver.setDeviceToActive(), RET_OK);
    ASSERT_EQ(driver.setTorqueControl(0.05f, 0.0f), RET_OK);
    std::this_thread::sleep_for(100ms);
    float d = 1, q = 0, a = 0, b = 0, c = 0, torque = 0, current = 0;
    ASSERT_EQ(driver.getIdqCurrents(&d, &q), RET_OK);
    EXPECT_EQ(d, 0.0f);
    EXPECT_GT(q, 0.0f);
    ASSERT_EQ(driver.getMotorPhaseCurrents(&a, &b, &c), RET_OK);
    EXPECT_NEAR(a + b + c, 0.0f, 1e-5f);
    EXPECT_GT(std::fabs(a) + std::fabs(b) + std::fabs(c), 0.0f);
    ASSERT_EQ(driver.getMotorTorque(&torque), RET_OK);
    EXPECT_NEAR(torque, 0.05f, 1e-6f);
    ASSERT_EQ(driver.getBusCurrent(&current), RET_OK);
    EXPECT_GT(current, idle_current);

    unsigned short counts[8] = {};
    ASSERT_EQ(driver.getHallEncoderStateCounts(&counts[0], &counts[1], &counts[2], &counts[3], &counts[4], &counts[5],
                                               &counts[6], &counts[7]),
              RET_OK);
    unsigned total = 0;
    for (unsigned short n : counts) total += n;
    EXPECT_GT(total, 0u) << "a turning rotor passes the hall sensors";
    unsigned char hall = 0;
    ASSERT_EQ(driver.getHallEncoderState(&hall), RET_OK);
    EXPECT_GE(hall, 1);
    EXPECT_LE(hall, 6);
}

// ---- Codes set by the test.

TEST_F(MotorSimulatorTest, CodesSetOnTheDeviceArriveMapped) {
    Driver driver(kDriverNode, &iface);
    Actuator actuator(kActuatorNode, &iface);
    driverNode().withFirmware([](MotorFirmware& f) {
        f.setErrorCode(41);
        f.setDriverFault(0x80000001u);
        for (unsigned k = 1; k <= 6; ++k) f.setDebugWord(k, 0x1111111111111111ull * k);
    });
    sim.nodeAs<kinetra::sim::ActuatorNode>(kActuatorNode).withFirmware([](MotorFirmware& f) { f.setErrorCode(41); });
    driver_error_t error = DRIVER_ERROR_0;
    ASSERT_EQ(driver.getErrorCode(&error), RET_OK);
    EXPECT_EQ(error, DRIVER_ERROR_UNRECOGNISED);
    unsigned int raw = 0, fault = 0;
    ASSERT_EQ(actuator.getErrorCode(&raw), RET_OK);
    EXPECT_EQ(raw, 41u);
    ASSERT_EQ(driver.getDriverFault(&fault), RET_OK);
    EXPECT_EQ(fault, 0x80000001u);
    unsigned long long e[6] = {};
    ASSERT_EQ(driver.getDebugErrorCode(&e[0], &e[1], &e[2], &e[3], &e[4], &e[5]), RET_OK);
    for (unsigned k = 1; k <= 6; ++k) EXPECT_EQ(e[k - 1], 0x1111111111111111ull * k);
    std::string commit;
    ASSERT_EQ(driver.getFirmwareCommit(&commit), RET_OK);
    EXPECT_EQ(commit, DriverNode::defaultIdentity().commit.substr(0, 7));
}

// ---- The configuration's life cycle.

TEST_F(MotorSimulatorTest, SaveKeepsAndEraseRestoresAcrossAReboot) {
    Driver driver(kDriverNode, &iface);
    float ratio = 0;
    auto rebootAndReadRatio = [&] {
        ASSERT_EQ(driver.rebootDriver(), RET_OK);
        std::this_thread::sleep_for(50ms);  // the node is silent while it boots
        EXPECT_TRUE(readUntil<float>([&](float* r) { return driver.getGearBoxParameters(r); },
                                     [](float) { return true; }, 3000ms, &ratio));
    };

    ASSERT_EQ(driver.setGearBoxParameters(3.0f), RET_OK);
    ASSERT_EQ(driver.saveConfigurations(), RET_OK);
    ASSERT_EQ(driver.setGearBoxParameters(5.0f), RET_OK);
    rebootAndReadRatio();
    EXPECT_EQ(ratio, 3.0f) << "the saved value comes back, the unsaved one is gone";

    ASSERT_EQ(driver.eraseConfigurations(), RET_OK);
    rebootAndReadRatio();
    EXPECT_EQ(ratio, 1.0f) << "erasing restores the factory value";
}

TEST_F(MotorSimulatorTest, ClearingTheOffAxisCalibrationZeroesTheChipRegisters) {
    Driver driver(kDriverNode, &iface);
    ASSERT_EQ(driver.setMAxxxBCTValue(false, 40), RET_OK);
    ASSERT_EQ(driver.setMAxxxTrimmingSettings(false, true, true), RET_OK);
    testing::internal::CaptureStdout();
    EXPECT_EQ(driver.clearMAxxxOffAxisCalibration(false), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Done.\n");
    unsigned char value = 0xFF;
    bool flag = false;
    ASSERT_EQ(driver.getMAxxxBCTValue(false, &value, &flag), RET_OK);
    EXPECT_EQ(value, 0);
    ASSERT_EQ(driver.getMAxxxSPIRegister(false, 3, &value, &flag), RET_OK);
    EXPECT_EQ(value, 0);
}

}  // namespace
