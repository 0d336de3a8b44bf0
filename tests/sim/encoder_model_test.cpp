// The simulated encoder's physics: angles, count and raw word of a turning shaft,
// with zero, direction, scaling, filtering and the chip error hook applied.

#include "kinetra_sim/console.h"
#include "kinetra_sim/encoder_model.h"
#include "kinetra_sim/encoder_node.h"
#include "kinetra_sim/simulator.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kinetra::sim {
namespace {

TEST(EncoderModelTest, ATurningShaftGivesConsistentAnglesCountAndRawWord) {
    EncoderModel model;
    model.setShaftRate(90.0);
    model.advance(5.0);  // 450 degrees
    EXPECT_NEAR(model.multiturnAngle(), 450.0f, 1e-3);
    EXPECT_NEAR(model.absoluteAngle(), 90.0f, 1e-3);
    EXPECT_EQ(model.count(), 450 * 16384 / 360);
    EXPECT_EQ(model.rawData(), 16384u);
    EXPECT_FLOAT_EQ(model.rawVelocity(), 90.0f);
    EXPECT_FLOAT_EQ(model.filteredVelocity(), 90.0f);
    EXPECT_FLOAT_EQ(model.rawAcceleration(), 0.0f);
}

TEST(EncoderModelTest, ZeroDirectionAndScalingApplyToWhatIsReported) {
    EncoderModel model;
    model.setShaftRate(30.0);
    model.advance(3.0);  // 90 degrees
    model.zeroHere();
    EXPECT_NEAR(model.settings().zero_position, 90.0f, 1e-3);
    EXPECT_NEAR(model.absoluteAngle(), 0.0f, 1e-3);
    model.advance(1.0);
    EXPECT_NEAR(model.multiturnAngle(), 30.0f, 1e-3);
    EXPECT_EQ(model.rawData(), static_cast<uint32_t>(120.0 / 360 * 65536));  // the chip ignores the zero

    model.setDirection(1);
    EXPECT_NEAR(model.multiturnAngle(), -30.0f, 1e-3);
    EXPECT_NEAR(model.absoluteAngle(), 330.0f, 1e-3);
    EXPECT_FLOAT_EQ(model.rawVelocity(), -30.0f);
    EXPECT_LT(model.count(), 0);

    model.setScalingFactor(0.5f);
    EXPECT_FLOAT_EQ(model.scaledVelocity(), -15.0f);
    EXPECT_FLOAT_EQ(model.scaledFilteredVelocity(), -15.0f);
}

TEST(EncoderModelTest, FilteredValuesAverageTheLastWindowOfSamples) {
    EncoderModel model;
    model.setFilterWindow(100);
    model.setShaftAcceleration(100.0);
    model.advance(2.0);
    EXPECT_NEAR(model.rawVelocity(), 200.0f, 1e-3);
    // The average of a ramp over 100 one-millisecond samples lags by 49.5 samples.
    EXPECT_NEAR(model.filteredVelocity(), 200.0f - 100.0f * 0.0495f, 1e-2);
    EXPECT_FLOAT_EQ(model.filteredAcceleration(), 100.0f);
    // One long step and many short ones sample the same instants.
    EncoderModel stepped;
    stepped.setFilterWindow(100);
    stepped.setShaftAcceleration(100.0);
    for (int i = 0; i < 2000; ++i) stepped.advance(0.001);
    EXPECT_NEAR(stepped.filteredVelocity(), model.filteredVelocity(), 1e-3);
    EXPECT_NEAR(stepped.multiturnAngle(), model.multiturnAngle(), 1e-3);
}

TEST(EncoderModelTest, LinearCountPresetsTheCounter) {
    EncoderModel model;
    model.setShaftRate(360.0);
    model.advance(0.25);
    model.setLinearCount(1000);
    EXPECT_EQ(model.count(), 1000);
    model.advance(0.25);  // another quarter turn: 4096 counts
    EXPECT_EQ(model.count(), 1000 + 4096);
}

TEST(EncoderModelTest, OnlySavedSettingsSurviveARebootAndTheTurnCountRestarts) {
    EncoderModel model;
    model.setShaftRate(36.0);
    model.advance(12.5);  // 450 degrees
    model.setScalingFactor(2.0f);
    model.setDirection(1);
    model.save();
    model.setFilterWindow(50);
    model.reboot();
    EXPECT_EQ(model.settings().scaling_factor, 2.0f);
    EXPECT_EQ(model.settings().direction, 1);
    EXPECT_EQ(model.settings().filter_window, 10u);
    EXPECT_GT(model.multiturnAngle(), -360.0f);
    EXPECT_LE(model.multiturnAngle(), 0.0f);
    model.erase();
    EXPECT_EQ(model.settings().scaling_factor, 1.0f);
}

TEST(EncoderModelTest, TheChipErrorHookSeesItsRegistersAndShiftsTheMeasurement) {
    EncoderModel model;
    model.setShaftAngle(100.0);
    // A one-harmonic error whose size follows register 2, as an off-axis magnet gives.
    model.setAngleError([](double mechanical, const SensorRegisters& registers) {
        return registers.read(2) / 100.0 * std::sin(mechanical * M_PI / 180.0);
    });
    EXPECT_NEAR(model.absoluteAngle(), 100.0f, 1e-4);
    model.registers().write(2, 50);
    EXPECT_NEAR(model.absoluteAngle(), 100.0 + 0.5 * std::sin(100.0 * M_PI / 180.0), 1e-4);
    EXPECT_EQ(model.rawData(), static_cast<uint32_t>((100.0 + 0.5 * std::sin(100.0 * M_PI / 180.0)) / 360 * 65536));
}

TEST(EncoderModelTest, TheConsoleSetsTheShaftRateOfEncodersOnly) {
    Simulator sim({{NodeKind::Encoder, 4}, {NodeKind::Imu, 3}});
    runConsoleCommand(sim, "shaft 4 -45.5");
    EXPECT_EQ(sim.nodeAs<EncoderNode>(4).withModel([](EncoderModel& m) { return m.shaftRate(); }), -45.5);
    EXPECT_THROW(runConsoleCommand(sim, "shaft 3 10"), std::invalid_argument);
    EXPECT_THROW(runConsoleCommand(sim, "shaft 4 fast"), std::invalid_argument);
    EXPECT_THROW(runConsoleCommand(sim, "shaft 4 nan"), std::invalid_argument);
}

}  // namespace
}  // namespace kinetra::sim
