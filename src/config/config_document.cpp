#include "config/config_document.h"

#include "config/config_members.h"

#include <nlohmann/json.hpp>

namespace kinetra::config {
namespace {

// Floats go in as doubles so that the text is the double's shortest form.
double widened(float value) { return static_cast<double>(value); }

}  // namespace

std::string hardwareVersionText(const std::array<unsigned char, 4>& version) {
    return std::to_string(version[0]) + "-" + std::to_string(version[1]) + "." + std::to_string(version[2]) + "-" +
           std::to_string(version[3]);
}

std::string firmwareVersionText(unsigned char major, unsigned char minor, unsigned short patch) {
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

std::string configurationDocument(const DriverConfiguration& s) {
    namespace m = member;
    // nlohmann::json's objects are ordered maps: members come out sorted by name
    // whatever the order here.
    nlohmann::json model = nlohmann::json::object();
    model[m::kBrakeResistanceValue] = widened(s.brake_resistance);
    // The selector taken as unsigned: a rate outside the table (-1) is 4294967295.
    model[m::kCanBaudRate] = static_cast<unsigned int>(s.can_baud_rate);
    model[m::kCurrentControllerBandwidth] = widened(s.current_controller_bandwidth);
    model[m::kCurrentGain] = widened(s.current_gain);
    model[m::kCurrentIntegratorGain] = widened(s.current_integrator_gain);
    model[m::kFwCommit] = s.firmware_commit;
    model[m::kFwVersion] = firmwareVersionText(s.firmware_major, s.firmware_minor, s.firmware_patch);
    model[m::kGearRatio] = widened(s.gear_ratio);
    model[m::kHwVersion] = hardwareVersionText(s.hardware_version);
    model[m::kIsBrakeResistorEnabled] = s.brake_resistor_enabled;
    model[m::kIsMotorThermistorEnabled] = s.thermistor_enabled;
    model[m::kMotorCalibCurrent] = widened(s.calibration_current);
    model[m::kMotorCalibVoltage] = widened(s.calibration_voltage);
    model[m::kMotorCurrentLimit] = widened(s.current_limit);
    model[m::kMotorEncoderResolution] = s.motor_encoder_resolution;
    model[m::kMotorEncoderType] = s.motor_encoder_type;
    model[m::kMotorEncoderUseIndex] = s.motor_encoder_use_index;
    model[m::kMotorKvRating] = s.kv_rating;
    model[m::kMotorPhaseInductance] = widened(s.phase_inductance);
    model[m::kMotorPhaseResistance] = widened(s.phase_resistance);
    model[m::kMotorPolePairs] = s.pole_pairs;
    model[m::kMotorTemperatureLowerLimit] = s.temperature_lower_limit;
    model[m::kMotorTemperatureUpperLimit] = s.temperature_upper_limit;
    model[m::kMotorThermistorBeta] = s.thermistor_beta;
    model[m::kMotorThermistorRRef] = widened(s.thermistor_r_ref);
    model[m::kOutputEncoderResolution] = s.output_encoder_resolution;
    model[m::kOutputEncoderType] = s.output_encoder_type;
    model[m::kOutputEncoderUseIndex] = s.output_encoder_use_index;
    model[m::kOvervoltageLevel] = widened(s.overvoltage_level);
    model[m::kPositionGain] = widened(s.position_gain);
    model[m::kRegenCurrentTripLevel] = widened(s.regen_current_trip_level);
    model[m::kStartupClosedLoop] = s.startup_closed_loop;
    model[m::kStartupEncoderMatching] = s.startup_encoder_matching;
    model[m::kStartupIndexSearch] = s.startup_index_search;
    model[m::kUndervoltageLevel] = widened(s.undervoltage_level);
    model[m::kVelGain] = widened(s.velocity_gain);
    model[m::kVelIntegratorGain] = widened(s.velocity_integrator_gain);

    nlohmann::json document = nlohmann::json::object();
    document[kModelName] = std::move(model);
    return document.dump(kDocumentIndent, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace kinetra::config
