#pragma once
// The names of the driver configuration document: the model object that holds
// everything and its members. Export and import both use these, so a file the
// library writes is always one it reads.

namespace kinetra::config {

/// The single top-level member: the device model the settings belong to.
inline constexpr const char* kModelName = "Tarvex K3";

/// Spaces per nesting level when a document is written out.
inline constexpr int kDocumentIndent = 4;

namespace member {
inline constexpr const char* kBrakeResistanceValue = "brake_resistance_value";
inline constexpr const char* kCanBaudRate = "can_baud_rate";
inline constexpr const char* kCurrentControllerBandwidth = "current_controller_bandwidth";
inline constexpr const char* kCurrentGain = "current_gain";
inline constexpr const char* kCurrentIntegratorGain = "current_integrator_gain";
inline constexpr const char* kFwCommit = "fw_commit";
inline constexpr const char* kFwVersion = "fw_version";
inline constexpr const char* kGearRatio = "gear_ratio";
inline constexpr const char* kHwVersion = "hw_version";
inline constexpr const char* kIsBrakeResistorEnabled = "is_brake_resistor_enabled";
inline constexpr const char* kIsMotorThermistorEnabled = "is_motor_thermistor_enabled";
inline constexpr const char* kMotorCalibCurrent = "motor_calib_current";
inline constexpr const char* kMotorCalibVoltage = "motor_calib_voltage";
inline constexpr const char* kMotorCurrentLimit = "motor_current_limit";
inline constexpr const char* kMotorEncoderResolution = "motor_encoder_resolution_param";
inline constexpr const char* kMotorEncoderType = "motor_encoder_type";
inline constexpr const char* kMotorEncoderUseIndex = "motor_encoder_use_index";
inline constexpr const char* kMotorKvRating = "motor_kv_rating";
inline constexpr const char* kMotorPhaseInductance = "motor_phase_inductance";
inline constexpr const char* kMotorPhaseResistance = "motor_phase_resistance";
inline constexpr const char* kMotorPolePairs = "motor_pole_pairs";
inline constexpr const char* kMotorTemperatureLowerLimit = "motor_temperature_lower_limit";
inline constexpr const char* kMotorTemperatureUpperLimit = "motor_temperature_upper_limit";
inline constexpr const char* kMotorThermistorBeta = "motor_thermistor_beta";
inline constexpr const char* kMotorThermistorRRef = "motor_thermistor_r_ref";
inline constexpr const char* kOutputEncoderResolution = "output_encoder_resolution_parameter";
inline constexpr const char* kOutputEncoderType = "output_encoder_type";
inline constexpr const char* kOutputEncoderUseIndex = "output_encoder_use_index";
inline constexpr const char* kOvervoltageLevel = "overvoltage_level";
inline constexpr const char* kPositionGain = "position_gain";
inline constexpr const char* kRegenCurrentTripLevel = "regen_current_trip_level";
inline constexpr const char* kStartupClosedLoop = "startup_closed_loop";
inline constexpr const char* kStartupEncoderMatching = "startup_encoder_matching";
inline constexpr const char* kStartupIndexSearch = "startup_index_search";
inline constexpr const char* kUndervoltageLevel = "undervoltage_level";
inline constexpr const char* kVelGain = "vel_gain";
inline constexpr const char* kVelIntegratorGain = "vel_integrator_gain";
}  // namespace member

}  // namespace kinetra::config
