#pragma once
// The settings one driver export gathers, exactly as the driver's reads deliver
// them: no unit conversion, no range checks.

#include <kinetra/types.h>

#include <array>
#include <string>

namespace kinetra::config {

struct DriverConfiguration {
    CANBaudRate can_baud_rate = CAN_BAUD_1M;  ///< -1 for a rate outside the selector table
    float undervoltage_level = 0.0f;
    float overvoltage_level = 0.0f;
    bool brake_resistor_enabled = false;
    float brake_resistance = 0.0f;
    float regen_current_trip_level = 0.0f;
    unsigned char pole_pairs = 0;
    unsigned short kv_rating = 0;
    float current_limit = 0.0f;
    float phase_resistance = 0.0f;
    float phase_inductance = 0.0f;
    unsigned char motor_encoder_type = 0;
    int motor_encoder_resolution = 0;
    bool motor_encoder_use_index = false;
    unsigned char output_encoder_type = 0;
    int output_encoder_resolution = 0;
    bool output_encoder_use_index = false;
    float gear_ratio = 0.0f;
    float calibration_voltage = 0.0f;
    float calibration_current = 0.0f;
    bool thermistor_enabled = false;
    float thermistor_r_ref = 0.0f;
    unsigned short thermistor_beta = 0;
    unsigned char temperature_upper_limit = 0;
    unsigned char temperature_lower_limit = 0;
    bool startup_index_search = false;
    bool startup_encoder_matching = false;
    bool startup_closed_loop = false;
    float position_gain = 0.0f;
    float velocity_gain = 0.0f;
    float velocity_integrator_gain = 0.0f;
    float current_gain = 0.0f;
    float current_integrator_gain = 0.0f;
    float current_controller_bandwidth = 0.0f;
    std::array<unsigned char, 4> hardware_version{};
    unsigned char firmware_major = 0;
    unsigned char firmware_minor = 0;
    unsigned short firmware_patch = 0;
    std::string firmware_commit;  ///< the bytes as the device sent them
};

}  // namespace kinetra::config
