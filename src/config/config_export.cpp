#include "config/config_export.h"

#include "config/config_document.h"

#include <functional>
#include <initializer_list>

namespace kinetra::config {

ret_status_t readDriverConfiguration(Driver& driver, DriverConfiguration* settings) {
    return readDriverConfiguration(driver, settings, nullptr);
}

ret_status_t readDriverConfiguration(Driver& d, DriverConfiguration* s, const char** failed) {
    // Values only the export discards: the brake resistor's two status flags.
    bool brake_armed = false;
    bool brake_saturated = false;
    struct Read {
        const char* operation;
        std::function<ret_status_t()> run;
    };
    const std::initializer_list<Read> reads = {
        {"getCANBaudRate", [&] { return d.getCANBaudRate(&s->can_baud_rate); }},
        {"getDCBusTripLevels", [&] { return d.getDCBusTripLevels(&s->undervoltage_level, &s->overvoltage_level); }},
        {"getBrakeResistorState", [&] {
            return d.getBrakeResistorState(&s->brake_resistor_enabled, &s->brake_resistance, &brake_armed,
                                           &brake_saturated);
        }},
        {"getRegenCurrentTripLevel", [&] { return d.getRegenCurrentTripLevel(&s->regen_current_trip_level); }},
        {"getMotorParameters", [&] { return d.getMotorParameters(&s->pole_pairs, &s->kv_rating, &s->current_limit); }},
        {"getMotorPhaseParameters", [&] { return d.getMotorPhaseParameters(&s->phase_resistance, &s->phase_inductance); }},
        {"getMotorEncoderConfiguration", [&] {
            return d.getMotorEncoderConfiguration(&s->motor_encoder_type, &s->motor_encoder_resolution,
                                                  &s->motor_encoder_use_index);
        }},
        {"getOutputEncoderConfiguration", [&] {
            return d.getOutputEncoderConfiguration(&s->output_encoder_type, &s->output_encoder_resolution,
                                                   &s->output_encoder_use_index);
        }},
        {"getGearBoxParameters", [&] { return d.getGearBoxParameters(&s->gear_ratio); }},
        {"getMotorCalibrationParameters", [&] { return d.getMotorCalibrationParameters(&s->calibration_voltage, &s->calibration_current); }},
        {"getMotorThermistorConfiguration", [&] {
            return d.getMotorThermistorConfiguration(&s->thermistor_enabled, &s->thermistor_r_ref,
                                                     &s->thermistor_beta, &s->temperature_upper_limit,
                                                     &s->temperature_lower_limit);
        }},
        {"getStartupConfigs", [&] {
            return d.getStartupConfigs(&s->startup_index_search, &s->startup_encoder_matching,
                                       &s->startup_closed_loop);
        }},
        {"getPositionControllerGain", [&] { return d.getPositionControllerGain(&s->position_gain); }},
        {"getVelocityControllerGains", [&] { return d.getVelocityControllerGains(&s->velocity_gain, &s->velocity_integrator_gain); }},
        {"getCurrentControllerGains", [&] { return d.getCurrentControllerGains(&s->current_gain, &s->current_integrator_gain); }},
        {"getCurrentControllerBandwidth", [&] { return d.getCurrentControllerBandwidth(&s->current_controller_bandwidth); }},
        {"getHardwareVersion", [&] {
            auto& hw = s->hardware_version;
            return d.getHardwareVersion(&hw[0], &hw[1], &hw[2], &hw[3]);
        }},
        {"getFirmwareVersion", [&] { return d.getFirmwareVersion(&s->firmware_major, &s->firmware_minor, &s->firmware_patch); }},
        {"getFirmwareCommit", [&] { return d.getFirmwareCommit(&s->firmware_commit); }},
    };
    for (const Read& read : reads) {
        const ret_status_t status = read.run();
        if (status != RET_OK) {
            if (failed != nullptr) *failed = read.operation;
            return status;
        }
    }
    return RET_OK;
}

std::string exportDriverConfiguration(Driver& driver) {
    DriverConfiguration settings;
    if (readDriverConfiguration(driver, &settings) != RET_OK) return std::string();
    return configurationDocument(settings);
}

ConfigResult exportDriverConfigurationResult(Driver& driver) {
    ConfigResult result;
    DriverConfiguration settings;
    const char* failed = "";
    const ret_status_t status = readDriverConfiguration(driver, &settings, &failed);
    if (status != RET_OK) {
        result.reason = ConfigFailure::ReadFailed;
        result.operation = failed;
        result.status = status;
        result.text = std::string(failed) + " failed with status " + std::to_string(status);
        return result;
    }
    result.document = configurationDocument(settings);
    return result;
}

}  // namespace kinetra::config
