#pragma once
/// @file encoder_model.h
/// The physics and firmware state behind a simulated magnetic rotary encoder: a
/// shaft turning at a set rate, the sensor chip that measures it, and what the
/// encoder's firmware computes from the measurement.

#include <array>
#include <cstdint>
#include <deque>
#include <functional>

namespace kinetra::sim {

/// The sensor chip's register file, addressed by the register commands. Writing
/// 1 to the store register keeps the registers in the chip's own memory; a power
/// cycle (a reboot of the device) brings back what was stored last. The chip
/// does not take part in saving or erasing the device's configuration.
class SensorRegisters {
public:
    SensorRegisters() { reset(); }
    /// Back to the chip's factory values, stored ones included.
    void reset();
    /// As after a power cycle: the stored registers.
    void powerUp() { values_ = stored_; }
    uint8_t read(uint8_t address) const { return values_[address]; }
    void write(uint8_t address, uint8_t value);

private:
    std::array<uint8_t, 256> values_{};
    std::array<uint8_t, 256> stored_{};
};

/// The encoder's configuration, kept by saving it and restored by a reboot.
struct EncoderSettings {
    uint8_t type = 4;             ///< MA7xx chip
    int32_t resolution = 16384;   ///< counts per turn; 0 or less means the chip's 16 bits
    uint8_t direction = 0;        ///< 0 counts with the shaft, anything else against it
    float scaling_factor = 1.0f;  ///< multiplies the scaled velocities and accelerations
    uint32_t filter_window = 10;  ///< samples in the moving averages (at least 1)
    float zero_position = 0.0f;   ///< measured angle within a turn that reads as zero
};

/// Units: angles in degrees, velocities in degrees per second, accelerations in
/// degrees per second squared. The firmware samples the shaft every millisecond;
/// the filtered values are moving averages over `filter_window` samples.
///
/// Not thread-safe: the owning node calls it with its lock held.
class EncoderModel {
public:
    static constexpr double kSamplePeriod = 0.001;
    /// The chip's angle word: 16 bits per turn.
    static constexpr uint32_t kRawCountsPerTurn = 65536;
    /// The longest filter window the firmware accepts; longer ones are cut.
    static constexpr uint32_t kMaxFilterWindow = 4096;

    /// The measurement error of the chip in degrees at a mechanical angle (0-360),
    /// given its registers; none by default. The off-axis model installs one.
    using AngleError = std::function<double(double mechanical_degrees, const SensorRegisters& registers)>;

    EncoderModel();

    /// Lets `seconds` of simulated time pass.
    void advance(double seconds);

    // --- The shaft (test and command-line knobs) --------------------------------
    // Values that are not finite are ignored, so that the model always has an angle.
    void setShaftRate(double degrees_per_second);
    double shaftRate() const { return rate_; }
    void setShaftAcceleration(double degrees_per_second2);
    double shaftAcceleration() const { return acceleration_; }
    /// The true mechanical angle, counted over turns.
    double shaftAngle() const { return angle_; }
    void setShaftAngle(double degrees);
    void setAngleError(AngleError error) { angle_error_ = std::move(error); }

    // --- What the encoder reports ----------------------------------------------
    /// The angle the chip measures, counted over turns (shaft angle plus chip error).
    double measuredAngle() const;
    /// Degrees within one turn from the zero position, in the configured direction.
    float absoluteAngle() const;
    /// Degrees from the zero position over turns, in the configured direction.
    float multiturnAngle() const;
    int32_t count() const;
    /// The chip's angle word of the measured angle (no zero, no direction).
    uint32_t rawData() const;
    float rawVelocity() const;
    float scaledVelocity() const { return rawVelocity() * settings_.scaling_factor; }
    float filteredVelocity() const;
    float scaledFilteredVelocity() const { return filteredVelocity() * settings_.scaling_factor; }
    float rawAcceleration() const;
    float scaledAcceleration() const { return rawAcceleration() * settings_.scaling_factor; }
    float filteredAcceleration() const;
    float scaledFilteredAcceleration() const { return filteredAcceleration() * settings_.scaling_factor; }

    // --- Configuration ------------------------------------------------------------
    const EncoderSettings& settings() const { return settings_; }
    void configure(uint8_t type, int32_t resolution);
    void setDirection(uint8_t direction);
    void setScalingFactor(float factor) { settings_.scaling_factor = factor; }
    void setFilterWindow(uint32_t samples);
    /// Presets the count: the current position counts as `count` from now on.
    void setLinearCount(uint32_t count);
    /// Makes the current position the zero of both angles.
    void zeroHere();

    SensorRegisters& registers() { return registers_; }
    const SensorRegisters& registers() const { return registers_; }

    uint32_t errorCode() const { return error_code_; }
    void setErrorCode(uint32_t code) { error_code_ = code; }
    void clearErrors() { error_code_ = 0; }

    // --- Life cycle ---------------------------------------------------------------
    /// Keeps the current settings for the next reboot.
    void save() { saved_ = settings_; }
    /// Returns live and saved settings to the factory values.
    void erase();
    /// Restarts the firmware with its saved settings: the turn count starts over
    /// within the first turn, the count offset and the filters are cleared.
    void reboot();

private:
    double sign() const { return settings_.direction == 0 ? 1.0 : -1.0; }
    /// The measured angle from the zero, over turns, in the configured direction.
    double directedAngle() const;
    void sample();
    void restartTurnCount();

    double angle_ = 0.0;
    double rate_ = 0.0;
    double acceleration_ = 0.0;
    double pending_time_ = 0.0;
    AngleError angle_error_;

    EncoderSettings settings_;
    EncoderSettings saved_;
    SensorRegisters registers_;
    /// Measured angle of the multiturn origin (a zero position plus whole turns).
    double origin_ = 0.0;
    int64_t count_offset_ = 0;
    uint32_t error_code_ = 0;
    std::deque<double> velocity_samples_;
    std::deque<double> acceleration_samples_;
};

}  // namespace kinetra::sim
