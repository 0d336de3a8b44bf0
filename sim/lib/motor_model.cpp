#include "kinetra_sim/motor_model.h"

#include <algorithm>
#include <cmath>

namespace kinetra::sim {
namespace {

constexpr double kTwoPi = 6.283185307179586;
/// Rotor and load inertia, kg·m².
constexpr double kInertia = 1e-4;
/// Viscous friction, N·m per turn/s, and dry friction, N·m.
constexpr double kViscousFriction = 2e-4;
constexpr double kDryFriction = 0.005;
/// Time constant of the velocity loop, s.
constexpr double kVelocityTimeConstant = 0.02;
/// The position loop stays stable at the integration step up to this gain.
constexpr double kMaxPositionGain = 500.0;
/// Trajectory limits used when a set point gives none.
constexpr double kDefaultTrajectoryVelocity = 10.0;
constexpr double kDefaultTrajectoryAcceleration = 20.0;
/// How long an s-curve takes to build up its acceleration, s.
constexpr double kJerkTime = 0.05;
/// A trajectory has arrived when this close and this slow.
constexpr double kArrivalDistance = 1e-3;
/// Thermal paths: K/W and time constants in s.
constexpr double kMotorThermalResistance = 3.0;
constexpr double kMotorThermalTime = 30.0;
constexpr double kDriverThermalResistance = 10.0;
constexpr double kDriverThermalTime = 20.0;
constexpr double kDriverStandbyPower = 0.5;
/// Hall codes in the order the rotor passes them within one electrical turn.
constexpr uint8_t kHallSequence[6] = {1, 5, 4, 6, 2, 3};

double sign(double value) { return value > 0.0 ? 1.0 : (value < 0.0 ? -1.0 : 0.0); }

double friction(double velocity) { return kViscousFriction * velocity + kDryFriction * sign(velocity); }

bool finite(float value) { return std::isfinite(value); }

}  // namespace

MotorModel::MotorModel() { last_hall_ = hallState(); }

void MotorModel::setParameters(const MotorParameters& parameters) {
    const MotorParameters previous = parameters_;
    parameters_ = parameters;
    for (auto field : {&MotorParameters::gear_ratio, &MotorParameters::torque_limit, &MotorParameters::velocity_limit,
                       &MotorParameters::position_gain, &MotorParameters::kv, &MotorParameters::phase_resistance}) {
        if (!finite(parameters_.*field)) parameters_.*field = previous.*field;
    }
}

// ---- Set points -------------------------------------------------------------

void MotorModel::positionControl(float target, float torque_feed_forward, ControlMode mode) {
    if (!finite(target)) return;
    mode_ = mode;
    target_position_ = target;
    torque_feed_forward_ = finite(torque_feed_forward) ? torque_feed_forward : 0.0;
    trajectory_done_ = true;
}

void MotorModel::velocityControl(float target, float ramp, float torque_feed_forward, ControlMode mode) {
    if (!finite(target)) return;
    mode_ = mode;
    target_velocity_ = target;
    ramp_ = finite(ramp) ? std::fabs(ramp) : 0.0;
    torque_feed_forward_ = finite(torque_feed_forward) ? torque_feed_forward : 0.0;
    trajectory_done_ = true;
}

void MotorModel::torqueControl(float target, float ramp, ControlMode mode) {
    if (!finite(target)) return;
    if (mode_ != ControlMode::Torque && mode_ != ControlMode::TorqueRamp) commanded_torque_ = torque_;
    mode_ = mode;
    target_torque_ = target;
    ramp_ = finite(ramp) ? std::fabs(ramp) : 0.0;
    trajectory_done_ = true;
}

void MotorModel::trajectory(float target, float max_velocity, float acceleration, float deceleration,
                            ControlMode mode) {
    if (!finite(target)) return;
    auto orDefault = [](float value, double fallback) {
        return finite(value) && value > 0.0f ? static_cast<double>(value) : fallback;
    };
    mode_ = mode;
    target_position_ = target;
    max_velocity_ = orDefault(max_velocity, kDefaultTrajectoryVelocity);
    trajectory_acceleration_ = orDefault(acceleration, kDefaultTrajectoryAcceleration);
    trajectory_deceleration_ = orDefault(deceleration, trajectory_acceleration_);
    trajectory_done_ = false;
}

// ---- State changes ----------------------------------------------------------

void MotorModel::activate() {
    if (state_ == ControllerState::EmergencyStop || state_ == ControllerState::Calibrating) return;
    if (state_ != ControllerState::Active && mode_ == ControlMode::None) target_position_ = position_;
    state_ = ControllerState::Active;
}

void MotorModel::idle() {
    if (state_ == ControllerState::Active) state_ = ControllerState::Idle;
}

void MotorModel::emergencyStop() { state_ = ControllerState::EmergencyStop; }

void MotorModel::clearEmergencyStop() {
    if (state_ == ControllerState::EmergencyStop) state_ = ControllerState::Idle;
}

void MotorModel::calibrate(double seconds) {
    if (state_ == ControllerState::EmergencyStop) return;
    state_ = ControllerState::Calibrating;
    calibration_left_ = seconds;
}

void MotorModel::setPosition(float position) {
    if (!finite(position)) return;
    const double shift = position - position_;
    zero_ -= shift;
    position_ = position;
    // Set points live in the same frame as the position, so they move with it.
    target_position_ += shift;
}

void MotorModel::turnRotorTo(double position) {
    if (std::isfinite(position)) position_ = position;
}

void MotorModel::restart() {
    state_ = ControllerState::Idle;
    mode_ = ControlMode::None;
    velocity_ = acceleration_ = torque_ = commanded_torque_ = 0.0;
    target_position_ = position_;
    target_velocity_ = target_torque_ = torque_feed_forward_ = 0.0;
    trajectory_done_ = true;
    calibration_left_ = 0.0;
}

// ---- Integration ------------------------------------------------------------

void MotorModel::advance(double seconds) {
    if (!(seconds > 0.0)) return;
    while (seconds > 0.0) {
        const double dt = std::min(seconds, kStep);
        step(dt);
        seconds -= dt;
    }
}

double MotorModel::inertiaTurns() const { return kInertia * kTwoPi; }

double MotorModel::maxAcceleration() const {
    return std::max(0.0, static_cast<double>(std::fabs(parameters_.torque_limit))) / inertiaTurns();
}

void MotorModel::step(double dt) {
    const double limit = std::fabs(parameters_.torque_limit);
    double acceleration = 0.0;
    switch (state_) {
        case ControllerState::Active: {
            if (mode_ == ControlMode::Torque || mode_ == ControlMode::TorqueRamp) {
                const double delta = target_torque_ - commanded_torque_;
                const double step_limit =
                    ramp_ > 0.0 && mode_ == ControlMode::TorqueRamp ? ramp_ * dt : std::fabs(delta);
                commanded_torque_ += std::clamp(delta, -step_limit, step_limit);
                torque_ = std::clamp(commanded_torque_, -limit, limit);
                acceleration = (torque_ - friction(velocity_)) / inertiaTurns();
            } else {
                // The controller asks for an acceleration; the torque limit bounds it.
                const double wanted = commandedAcceleration(dt);
                torque_ =
                    std::clamp(wanted * inertiaTurns() + friction(velocity_) + torque_feed_forward_, -limit, limit);
                acceleration = (torque_ - friction(velocity_)) / inertiaTurns();
            }
            break;
        }
        case ControllerState::EmergencyStop:
            // Brakes with all the torque it has; friction does the rest.
            torque_ = -sign(velocity_) * limit;
            acceleration = (torque_ - friction(velocity_)) / inertiaTurns();
            break;
        case ControllerState::Calibrating:
            calibration_left_ -= dt;
            if (calibration_left_ <= 0.0) state_ = ControllerState::Idle;
            [[fallthrough]];
        case ControllerState::Idle:
            torque_ = 0.0;
            acceleration = -friction(velocity_) / inertiaTurns();
            break;
    }
    // Braking stops at rest instead of reversing.
    if (state_ != ControllerState::Active && velocity_ * (velocity_ + acceleration * dt) < 0.0) {
        acceleration = -velocity_ / dt;
    }
    const double velocity_limit = std::fabs(parameters_.velocity_limit);
    const double next_velocity = std::clamp(velocity_ + acceleration * dt, -velocity_limit, velocity_limit);
    acceleration_ = (next_velocity - velocity_) / dt;
    velocity_ = next_velocity;
    position_ += velocity_ * dt;
    if (state_ == ControllerState::Active) finishTrajectoryIfArrived();
    updateThermal(dt);
    countHalls();
}

double MotorModel::commandedAcceleration(double dt) {
    switch (mode_) {
        case ControlMode::None:
        case ControlMode::Position:
        case ControlMode::PositionFeedForward:
        case ControlMode::OpenLoopPosition: {
            // A critically damped loop around the set point.
            const double gain =
                std::clamp(static_cast<double>(std::fabs(parameters_.position_gain)), 0.1, kMaxPositionGain);
            return gain * gain * (target_position_ - position_) - 2.0 * gain * velocity_;
        }
        case ControlMode::VelocityRamp:
            if (ramp_ > 0.0) return std::clamp((target_velocity_ - velocity_) / dt, -ramp_, ramp_);
            [[fallthrough]];
        case ControlMode::Velocity:
        case ControlMode::VelocityFeedForward:
        case ControlMode::SensorlessVelocity:
        case ControlMode::OpenLoopVelocity:
            return (target_velocity_ - velocity_) / kVelocityTimeConstant;
        case ControlMode::TrapezoidalTrajectory:
        case ControlMode::ScurveTrajectory:
            return trajectoryAcceleration(dt);
        case ControlMode::Torque:
        case ControlMode::TorqueRamp:
            break;
    }
    return 0.0;
}

double MotorModel::trajectoryAcceleration(double dt) {
    if (trajectory_done_) return -velocity_ / dt;  // holds the end point
    const double remaining = target_position_ - position_;
    const double direction = remaining >= 0.0 ? 1.0 : -1.0;
    const double toward = velocity_ * direction;
    const double deceleration = std::min(trajectory_deceleration_, maxAcceleration());
    const bool scurve = mode_ == ControlMode::ScurveTrajectory;
    // An s-curve needs a little more room to build its braking up.
    double stopping = toward > 0.0 ? toward * toward / (2.0 * deceleration) : 0.0;
    if (scurve) stopping += std::max(toward, 0.0) * kJerkTime;
    double wanted;
    if (std::fabs(remaining) <= stopping + std::fabs(velocity_) * dt) {
        wanted = -direction * deceleration;
        if (toward - deceleration * dt < 0.0) wanted = -velocity_ / dt;  // stopped: no reversing
    } else {
        const double speed = std::min(max_velocity_, static_cast<double>(std::fabs(parameters_.velocity_limit)));
        wanted = std::clamp((direction * speed - velocity_) / dt, -trajectory_acceleration_, trajectory_acceleration_);
    }
    if (scurve) {
        const double jerk = std::max(trajectory_acceleration_, deceleration) / kJerkTime;
        wanted = std::clamp(wanted, acceleration_ - jerk * dt, acceleration_ + jerk * dt);
    }
    return wanted;
}

void MotorModel::finishTrajectoryIfArrived() {
    if (trajectory_done_) return;
    if (mode_ != ControlMode::TrapezoidalTrajectory && mode_ != ControlMode::ScurveTrajectory) return;
    const double remaining = target_position_ - position_;
    const double slow = std::max(trajectory_deceleration_, trajectory_acceleration_) * 4.0 * kStep;
    if (std::fabs(remaining) < kArrivalDistance && std::fabs(velocity_) <= slow) {
        position_ = target_position_;
        velocity_ = 0.0;
        acceleration_ = 0.0;
        trajectory_done_ = true;
    }
}

void MotorModel::updateThermal(double dt) {
    const double current = iq();
    const double loss = 1.5 * current * current * parameters_.phase_resistance;
    motor_temperature_ += (loss * kMotorThermalResistance - (motor_temperature_ - kAmbient)) * dt / kMotorThermalTime;
    const double driver_loss = kDriverStandbyPower + 0.1 * loss;
    driver_temperature_ +=
        (driver_loss * kDriverThermalResistance - (driver_temperature_ - kAmbient)) * dt / kDriverThermalTime;
}

void MotorModel::countHalls() {
    const uint8_t hall = hallState();
    if (hall != last_hall_) ++hall_counts_[hall];
    last_hall_ = hall;
}

// ---- Readings ---------------------------------------------------------------

float MotorModel::iq() const {
    const double kv = parameters_.kv > 0.0f ? parameters_.kv : 100.0;
    const double torque_constant = 8.27 / kv;
    return static_cast<float>(torque_ / torque_constant);
}

std::array<float, 3> MotorModel::phaseCurrents() const {
    const double angle = kTwoPi * parameters_.pole_pairs * encoderPosition();
    const double current = iq();
    const double third = kTwoPi / 3.0;
    const double a = -current * std::sin(angle);
    const double b = -current * std::sin(angle - third);
    // The third follows from the sum being zero, as in the motor.
    return {static_cast<float>(a), static_cast<float>(b), static_cast<float>(-a - b)};
}

float MotorModel::busCurrent(float bus_voltage, float idle_current) const {
    if (!(bus_voltage > 0.0f)) return idle_current;
    const double current = iq();
    const double power = torque_ * velocity_ * kTwoPi + 1.5 * current * current * parameters_.phase_resistance;
    return static_cast<float>(idle_current + power / bus_voltage);
}

float MotorModel::regeneratedPower() const {
    const double current = iq();
    const double power = torque_ * velocity_ * kTwoPi + 1.5 * current * current * parameters_.phase_resistance;
    return power < 0.0 ? static_cast<float>(-power) : 0.0f;
}

uint8_t MotorModel::hallState() const {
    const double electrical = parameters_.pole_pairs * encoderPosition();
    // A shaft driven past any representable angle has no sector: converting it would be undefined.
    if (!std::isfinite(electrical)) return kHallSequence[0];
    const double fraction = electrical - std::floor(electrical);
    const int sector = std::clamp(static_cast<int>(fraction * 6.0), 0, 5);
    return kHallSequence[sector];
}

}  // namespace kinetra::sim
