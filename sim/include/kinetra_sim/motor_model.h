#pragma once
/// @file motor_model.h
/// The motor behind a simulated driver or actuator: a rotor with inertia and
/// friction, the controller that follows the set points of the control modes,
/// and the electrical and thermal quantities the firmware reports.

#include <array>
#include <cstdint>

namespace kinetra::sim {

/// What the controller is doing, as the controller-state read reports it.
enum class ControllerState : uint8_t { Idle = 0, Active = 1, Calibrating = 2, EmergencyStop = 3 };

/// The control mode of the last set point, as the controller-mode read reports it.
enum class ControlMode : uint16_t {
    None = 0,
    Position = 1,
    Velocity = 2,
    VelocityRamp = 3,
    Torque = 4,
    PositionFeedForward = 5,
    VelocityFeedForward = 6,
    TrapezoidalTrajectory = 7,
    ScurveTrajectory = 8,
    TorqueRamp = 9,
    SensorlessVelocity = 10,
    OpenLoopPosition = 11,
    OpenLoopVelocity = 12,
};

/// The configuration the motor follows; the firmware refreshes it from its
/// configuration registers.
struct MotorParameters {
    float gear_ratio = 1.0f;        ///< motor turns per output turn
    float torque_limit = 1.0f;      ///< N·m at the motor
    float velocity_limit = 20.0f;   ///< turns/s at the motor
    float position_gain = 20.0f;    ///< 1/s: natural frequency of the position loop
    uint8_t pole_pairs = 7;
    float kv = 100.0f;              ///< rpm/V; the torque constant follows from it
    float phase_resistance = 0.05f; ///< ohm
};

/// Units: positions in turns, velocities in turns/s, accelerations in turns/s²,
/// torques in N·m, currents in A, temperatures in °C. Set points are motor-side.
/// The motor moves only while the controller is active; a set point received
/// while idle is kept and followed once the controller becomes active.
///
/// Not thread-safe: the owning node calls it with its lock held.
class MotorModel {
public:
    /// The integration step; a long advance is made of many of these.
    static constexpr double kStep = 0.0005;
    /// Where both temperatures settle without load.
    static constexpr float kAmbient = 25.0f;

    MotorModel();

    /// Takes the parameters; a non-finite one (a host may store any bits in a
    /// register) keeps its previous value, as the firmware would refuse it.
    void setParameters(const MotorParameters& parameters);
    const MotorParameters& parameters() const { return parameters_; }

    // ---- Set points; each switches to its mode.
    void positionControl(float target, float torque_feed_forward, ControlMode mode);
    void velocityControl(float target, float ramp, float torque_feed_forward, ControlMode mode);
    void torqueControl(float target, float ramp, ControlMode mode);
    /// A trajectory to `target`; limits of zero or less take defaults.
    void trajectory(float target, float max_velocity, float acceleration, float deceleration, ControlMode mode);

    // ---- State changes.
    void activate();
    void idle();
    /// Brakes to a stop and refuses to become active until cleared.
    void emergencyStop();
    /// Leaves an emergency stop into idle.
    void clearEmergencyStop();
    /// Calibrates for `seconds` (idle, not moving), then returns to idle.
    void calibrate(double seconds);
    /// Makes the current position read as `position`.
    void setPosition(float position);
    /// Turns the rotor to `position` (turns, as the position reads it) at once,
    /// as a hand or a test rig would: unlike setPosition, the encoder sees the
    /// move. Velocity and set points are left as they are.
    void turnRotorTo(double position);
    /// As after power-up: idle, at rest, no set point; the zero is kept.
    void restart();

    /// Lets `seconds` of simulated time pass.
    void advance(double seconds);

    // ---- Readings.
    ControllerState state() const { return state_; }
    ControlMode mode() const { return mode_; }
    bool trajectoryDone() const { return trajectory_done_; }
    float position() const { return static_cast<float>(position_); }
    float velocity() const { return static_cast<float>(velocity_); }
    float acceleration() const { return static_cast<float>(acceleration_); }
    float torque() const { return static_cast<float>(torque_); }
    float outputPosition() const { return static_cast<float>(position_ / gear()); }
    float outputVelocity() const { return static_cast<float>(velocity_ / gear()); }
    float outputAcceleration() const { return static_cast<float>(acceleration_ / gear()); }
    float outputTorque() const { return static_cast<float>(torque_ * gear()); }
    /// The encoder position that reads as zero.
    float zeroPosition() const { return static_cast<float>(zero_); }
    /// The position the encoder measures (before the zero is taken off).
    double encoderPosition() const { return position_ + zero_; }

    /// q-axis current (the torque-forming one); the d-axis current is zero.
    float iq() const;
    /// The currents of phases a, b and c; they sum to zero.
    std::array<float, 3> phaseCurrents() const;
    /// The DC bus current at `bus_voltage`, on top of the electronics' own.
    float busCurrent(float bus_voltage, float idle_current) const;
    /// The power fed back from braking (positive while the motor brakes).
    float regeneratedPower() const;
    float motorTemperature() const { return static_cast<float>(motor_temperature_); }
    float driverTemperature() const { return static_cast<float>(driver_temperature_); }
    /// The hall sensor code (1-6) at the current rotor angle.
    uint8_t hallState() const;
    /// How often each hall code (0-7) was entered.
    const std::array<uint16_t, 8>& hallCounts() const { return hall_counts_; }
    void setHallCounts(const std::array<uint16_t, 8>& counts) { hall_counts_ = counts; }

private:
    double gear() const { return parameters_.gear_ratio != 0.0f ? parameters_.gear_ratio : 1.0; }
    double maxAcceleration() const;
    double inertiaTurns() const;
    void step(double dt);
    double commandedAcceleration(double dt);
    double trajectoryAcceleration(double dt);
    void finishTrajectoryIfArrived();
    void updateThermal(double dt);
    void countHalls();

    MotorParameters parameters_;
    ControllerState state_ = ControllerState::Idle;
    ControlMode mode_ = ControlMode::None;
    double calibration_left_ = 0.0;

    // Set points.
    double target_position_ = 0.0;
    double target_velocity_ = 0.0;
    double target_torque_ = 0.0;
    double commanded_torque_ = 0.0;  ///< follows target_torque_ at the ramp rate
    double ramp_ = 0.0;
    double torque_feed_forward_ = 0.0;
    double max_velocity_ = 0.0;
    double trajectory_acceleration_ = 0.0;
    double trajectory_deceleration_ = 0.0;
    bool trajectory_done_ = true;

    // Rotor.
    double position_ = 0.0;
    double velocity_ = 0.0;
    double acceleration_ = 0.0;
    double torque_ = 0.0;
    double zero_ = 0.0;

    double motor_temperature_ = kAmbient;
    double driver_temperature_ = kAmbient + 5.0;
    uint8_t last_hall_ = 0;
    std::array<uint16_t, 8> hall_counts_{};
};

}  // namespace kinetra::sim
