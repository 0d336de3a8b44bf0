// A non-finite controller gain written by a host drove the simulated motor to a NaN angle, and its Hall sector then converted NaN to an integer.

#include "kinetra_sim/motor_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using kinetra::sim::ControlMode;
using kinetra::sim::MotorModel;
using kinetra::sim::MotorParameters;

TEST(SimMotorNonFinite, NonFiniteParametersKeepTheirValuesAndTheMotorStaysFinite) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Row {
        const char* name;
        float MotorParameters::*field;
    };
    const Row rows[] = {
        {"gear ratio", &MotorParameters::gear_ratio},       {"torque limit", &MotorParameters::torque_limit},
        {"velocity limit", &MotorParameters::velocity_limit}, {"position gain", &MotorParameters::position_gain},
        {"kv", &MotorParameters::kv},                       {"phase resistance", &MotorParameters::phase_resistance},
    };
    for (const Row& row : rows) {
        for (const float bad : {nan, inf, -inf}) {
            MotorModel motor;
            const MotorParameters factory = motor.parameters();
            MotorParameters parameters = factory;
            parameters.*row.field = bad;
            motor.setParameters(parameters);
            EXPECT_EQ(motor.parameters().*row.field, factory.*row.field) << row.name << " " << bad;
            motor.activate();
            motor.positionControl(3.0f, 0.0f, ControlMode::Position);
            for (int i = 0; i < 100; ++i) motor.advance(0.01);
            EXPECT_TRUE(std::isfinite(motor.position())) << row.name << " " << bad;
            EXPECT_GE(motor.hallState(), 1) << row.name << " " << bad;
        }
    }
}

}  // namespace
