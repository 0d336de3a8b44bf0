// The Vorlex proxy against the simulated encoder through USBInterface and a pty:
// angles and velocity of a turning shaft, configuration and registers applied and
// read back, and the bit rate set and read back.

#include <kinetra/usb_interface.h>
#include <kinetra/vorlex.h>

#include "kinetra_sim/encoder_node.h"
#include "kinetra_sim/simulator.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

namespace kinetra::sim {
// Named rather than anonymous: files of this directory share a translation unit
// in batched builds, and this one reuses its neighbours' helper names.
namespace vorlex_simulation {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr uint32_t kNode = 4;
constexpr double kRate = 90.0;  // degrees per second

class VorlexOnSimulator : public ::testing::Test {
protected:
    VorlexOnSimulator() : sim_({{NodeKind::Encoder, kNode}}) {
        sim_.start();
        sim_.registerAsAdapter();
    }
    ~VorlexOnSimulator() override { iface_.closeInterface(); }

    void SetUp() override {
        ASSERT_TRUE(iface_.initInterface(sim_.portName()));
        // Operations refuse until the first send (the host's heartbeat) succeeded.
        ASSERT_TRUE(test::eventually([&] { return iface_.isRunning(); }, 3000ms));
        ASSERT_TRUE(test::eventually([&] { return encoder_.isConnected(); }, 3000ms));
        node().setShaftRate(kRate);
    }
    EncoderNode& node() { return sim_.nodeAs<EncoderNode>(kNode); }

    Simulator sim_;
    USBInterface iface_;
    Vorlex encoder_{kNode, &iface_};
};

TEST_F(VorlexOnSimulator, AnglesAndVelocityFollowTheTurningShaft) {
    // An ideal chip, so that the angles follow the shaft exactly.
    node().withModel([](EncoderModel& m) { m.setAngleError(nullptr); });
    float first = 0, second = 0;
    const auto t0 = Clock::now();
    ASSERT_EQ(encoder_.getMultiturnAngle(&first), RET_OK);
    const auto t1 = Clock::now();
    std::this_thread::sleep_for(300ms);
    const auto t2 = Clock::now();
    ASSERT_EQ(encoder_.getMultiturnAngle(&second), RET_OK);
    const auto t3 = Clock::now();
    // The shaft turned at the set rate between the two readings, whose instants lie
    // somewhere inside their exchanges.
    const double shortest = std::chrono::duration<double>(t2 - t1).count();
    const double longest = std::chrono::duration<double>(t3 - t0).count();
    EXPECT_GE(second - first, kRate * shortest - 0.01);
    EXPECT_LE(second - first, kRate * longest + 0.01);

    float absolute = 0;
    ASSERT_EQ(encoder_.getAbsoluteAngle(&absolute), RET_OK);
    EXPECT_GE(absolute, 0.0f);
    EXPECT_LT(absolute, 360.0f);
    const double truth = node().withModel([](EncoderModel& m) { return double(m.absoluteAngle()); });
    EXPECT_NEAR(std::remainder(truth - absolute, 360.0), 0.0, 5.0);

    float velocity = 0;
    ASSERT_EQ(encoder_.getRawVelocity(&velocity), RET_OK);
    EXPECT_FLOAT_EQ(velocity, kRate);
    ASSERT_EQ(encoder_.getFilteredVelocity(&velocity), RET_OK);
    EXPECT_NEAR(velocity, kRate, 1e-3);
    float acceleration = 1;
    ASSERT_EQ(encoder_.getFilteredAcceleration(&acceleration), RET_OK);
    EXPECT_EQ(acceleration, 0.0f);

    int count = 0;
    unsigned int raw = 0;
    ASSERT_EQ(encoder_.getEncoderCount(&count), RET_OK);
    ASSERT_EQ(encoder_.getEncoderRawData(&raw), RET_OK);
    EXPECT_GT(count, 0);
    EXPECT_LT(raw, 65536u);
}

TEST_F(VorlexOnSimulator, ConfigurationAndRegistersAreAppliedAndReadBack) {
    ASSERT_EQ(encoder_.configureEncoder(9, 4096), RET_OK);
    unsigned char type = 0;
    int resolution = 0;
    ASSERT_EQ(encoder_.getEncoderConfiguration(&type, &resolution), RET_OK);
    EXPECT_EQ(type, 9);
    EXPECT_EQ(resolution, 4096);

    ASSERT_EQ(encoder_.setEncoderDirection(1), RET_OK);
    ASSERT_EQ(encoder_.setScalingFactor(2.0f), RET_OK);
    ASSERT_EQ(encoder_.setFilterWindowLength(20), RET_OK);
    unsigned char direction = 0;
    float factor = 0, velocity = 0;
    unsigned int window = 0;
    ASSERT_EQ(encoder_.getEncoderDirection(&direction), RET_OK);
    ASSERT_EQ(encoder_.getScalingFactor(&factor), RET_OK);
    ASSERT_EQ(encoder_.getFilterWindowLength(&window), RET_OK);
    EXPECT_EQ(direction, 1);
    EXPECT_EQ(factor, 2.0f);
    EXPECT_EQ(window, 20u);
    ASSERT_EQ(encoder_.getScaledVelocity(&velocity), RET_OK);
    EXPECT_FLOAT_EQ(velocity, -2.0f * kRate);

    ASSERT_EQ(encoder_.setCurrentPositionToZero(), RET_OK);
    float absolute = 0, zero = -1;
    ASSERT_EQ(encoder_.getAbsoluteAngle(&absolute), RET_OK);
    ASSERT_EQ(encoder_.getZeroPosition(&zero), RET_OK);
    // Turning backwards from the new zero: just below 360, by the turn of one exchange.
    EXPECT_NEAR(std::remainder(absolute, 360.0), 0.0, 5.0);
    EXPECT_GE(zero, 0.0f);
    EXPECT_LT(zero, 360.0f);

    ASSERT_EQ(encoder_.setMAxxxSPIRegister(2, 0x40), RET_OK);
    ASSERT_EQ(encoder_.setMAxxxSPIRegister(40, 0x9C), RET_OK);
    for (const auto& [address, expected] : {std::pair<uint8_t, uint8_t>{2, 0x40}, {40, 0x9C}, {14, 0x77}}) {
        unsigned char value = 0;
        bool flag = false;
        ASSERT_EQ(encoder_.getMAxxxSPIRegister(address, &value, &flag), RET_OK);
        EXPECT_EQ(value, expected) << int(address);
        EXPECT_TRUE(flag);
    }
    EXPECT_EQ(node().withModel([](EncoderModel& m) { return m.registers().read(2); }), 0x40);

    node().withModel([](EncoderModel& m) { m.setErrorCode(0x11); });
    unsigned int error = 0;
    ASSERT_EQ(encoder_.getErrorCode(&error), RET_OK);
    EXPECT_EQ(error, 0x11u);
    ASSERT_EQ(encoder_.clearEncoderErrors(), RET_OK);
    ASSERT_EQ(encoder_.getErrorCode(&error), RET_OK);
    EXPECT_EQ(error, 0u);
}

TEST_F(VorlexOnSimulator, BitRateIsSetAndReadBack) {
    CANBaudRate rate = static_cast<CANBaudRate>(-1);
    ASSERT_EQ(encoder_.getCANBaudRate(&rate), RET_OK);
    EXPECT_EQ(rate, CAN_BAUD_500K);

    ASSERT_EQ(encoder_.setCANBaudRate(CAN_BAUD_1M), RET_OK);
    ASSERT_TRUE(test::eventually([&] { return node().bitRate() == CAN_BAUD_1M; }));
    // The encoder now talks at 1 Mbit/s only; the adapter follows.
    float angle = 0;
    EXPECT_EQ(encoder_.getAbsoluteAngle(&angle), RET_TIMEOUT);
    ASSERT_EQ(iface_.setCANBaudRate(CAN_BAUD_1M), RET_INTERFACE_OK);
    ASSERT_EQ(encoder_.getCANBaudRate(&rate), RET_OK);
    EXPECT_EQ(rate, CAN_BAUD_1M);
    EXPECT_EQ(encoder_.setCANBaudRate(static_cast<CANBaudRate>(9)), RET_INVALID_ARGUMENT);
}

}  // namespace vorlex_simulation
}  // namespace kinetra::sim
