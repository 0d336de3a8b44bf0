#pragma once
/// @file motor_firmware.h
/// The firmware state of a simulated driver or actuator beyond its configuration
/// registers: the motor, the supply it measures, error and fault codes, debug
/// words, encoder status and the registers of its magnetic sensor chips. Tests
/// reach it through MotorControllerNode::withFirmware().

#include "kinetra_sim/encoder_model.h"
#include "kinetra_sim/motor_model.h"
#include "kinetra_sim/offaxis_sensor.h"

#include <array>
#include <cstdint>

namespace kinetra::sim {

/// Not thread-safe: used with the owning node's lock held.
class MotorFirmware {
public:
    /// How long the calibration runs keep the controller busy.
    static constexpr double kCalibrationSeconds = 0.5;
    /// The error code the firmware sets when an emergency stop was commanded.
    static constexpr uint32_t kEmergencyStopError = 1;

    MotorModel& motor() { return motor_; }
    const MotorModel& motor() const { return motor_; }

    // ---- The supply.
    void setSupply(float voltage, float idle_current) {
        bus_voltage_ = voltage;
        idle_current_ = idle_current;
    }
    float busVoltage() const { return bus_voltage_; }
    float busCurrent() const { return motor_.busCurrent(bus_voltage_, idle_current_); }

    // ---- Codes the device reports; a test may set them.
    void setErrorCode(uint32_t code) { error_code_ = code; }
    uint32_t errorCode() const { return error_code_; }
    void setDriverFault(uint32_t fault) { driver_fault_ = fault; }
    uint32_t driverFault() const { return driver_fault_; }
    /// Debug word `index` (1-6); other indices are ignored.
    void setDebugWord(unsigned index, uint64_t word) {
        if (index >= 1 && index <= debug_words_.size()) debug_words_[index - 1] = word;
    }
    /// Debug word `index` (1-6); 0 for other indices.
    uint64_t debugWord(unsigned index) const {
        return index >= 1 && index <= debug_words_.size() ? debug_words_[index - 1] : 0;
    }
    /// Clears errors, faults and an emergency stop.
    void clearErrors() {
        error_code_ = 0;
        driver_fault_ = 0;
        motor_.clearEmergencyStop();
    }

    // ---- Encoder status, as the calibration runs leave it.
    bool motorCalibrated() const { return motor_calibrated_; }
    bool indexFound() const { return index_found_; }
    bool encoderMatched() const { return encoder_matched_; }
    void setMotorCalibrated(bool calibrated) { motor_calibrated_ = calibrated; }
    void setIndexFound(bool found) { index_found_ = found; }
    void setEncoderMatched(bool matched) { encoder_matched_ = matched; }

    /// The register file of the sensor chip of the output encoder (`output`) or
    /// the motor encoder. A reboot brings back what the chips stored.
    SensorRegisters& sensor(bool output) { return output ? output_sensor_ : motor_sensor_; }
    const SensorRegisters& sensor(bool output) const { return output ? output_sensor_ : motor_sensor_; }

    /// The output (`output`) or motor position in turns as an encoder of type
    /// `type` measures it: a magnetic sensor chip adds its off-axis error.
    float sensedPosition(bool output, uint8_t type) const;

    /// As after power-up (the chips come back with what they stored).
    void restart() {
        motor_sensor_.powerUp();
        output_sensor_.powerUp();
        motor_.restart();
        error_code_ = 0;
        driver_fault_ = 0;
        index_found_ = false;
        encoder_matched_ = false;
    }

private:
    MotorModel motor_;
    float bus_voltage_ = 24.0f;
    float idle_current_ = 0.0f;
    uint32_t error_code_ = 0;
    uint32_t driver_fault_ = 0;
    std::array<uint64_t, 6> debug_words_{};
    bool motor_calibrated_ = true;
    bool index_found_ = false;
    bool encoder_matched_ = false;
    SensorRegisters motor_sensor_;
    SensorRegisters output_sensor_;
};

}  // namespace kinetra::sim
