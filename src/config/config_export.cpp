#include "config/config_export.h"

#include "config/config_document.h"

#include <functional>
#include <initializer_list>

namespace kinetra::config {

ret_status_t readDriverConfiguration(Driver& d, DriverConfiguration* s) {
    // Values only the export discards: the brake resistor's two status flags.
    bool brake_armed = false;
    bool brake_saturated = false;
    const std::initializer_list<std::function<ret_status_t()>> reads = {
        [&] { return d.getCANBaudRate(&s->can_baud_rate); },
        [&] { return d.getDCBusTripLevels(&s->undervoltage_level, &s->overvoltage_level); },
        [&] {
            return d.getBrakeResistorState(&s->brake_resistor_enabled, &s->brake_resistance, &brake_armed,
                                           &brake_saturated);
        },
        [&] { return d.getRegenCurrentTripLevel(&s->regen_current_trip_level); },
        [&] { return d.getMotorParameters(&s->pole_pairs, &s->kv_rating, &s->current_limit); },
        [&] { return d.getMotorPhaseParameters(&s->phase_resistance, &s->phase_inductance); },
        [&] {
            return d.getMotorEncoderConfiguration(&s->motor_encoder_type, &s->motor_encoder_resolution,
                                                  &s->motor_encoder_use_index);
        },
        [&] {
            return d.getOutputEncoderConfiguration(&s->output_encoder_type, &s->output_encoder_resolution,
                                                   &s->output_encoder_use_index);
        },
        [&] { return d.getGearBoxParameters(&s->gear_ratio); },
        [&] { return d.getMotorCalibrationParameters(&s->calibration_voltage, &s->calibration_current); },
        [&] {
            return d.getMotorThermistorConfiguration(&s->thermistor_enabled, &s->thermistor_r_ref,
                                                     &s->thermistor_beta, &s->temperature_upper_limit,
                                                     &s->temperature_lower_limit);
        },
        [&] {
            return d.getStartupConfigs(&s->startup_index_search, &s->startup_encoder_matching,
                                       &s->startup_closed_loop);
        },
        [&] { return d.getPositionControllerGain(&s->position_gain); },
        [&] { return d.getVelocityControllerGains(&s->velocity_gain, &s->velocity_integrator_gain); },
        [&] { return d.getCurrentControllerGains(&s->current_gain, &s->current_integrator_gain); },
        [&] { return d.getCurrentControllerBandwidth(&s->current_controller_bandwidth); },
        [&] {
            auto& hw = s->hardware_version;
            return d.getHardwareVersion(&hw[0], &hw[1], &hw[2], &hw[3]);
        },
        [&] { return d.getFirmwareVersion(&s->firmware_major, &s->firmware_minor, &s->firmware_patch); },
        [&] { return d.getFirmwareCommit(&s->firmware_commit); },
    };
    for (const auto& read : reads) {
        const ret_status_t status = read();
        if (status != RET_OK) return status;
    }
    return RET_OK;
}

std::string exportDriverConfiguration(Driver& driver) {
    DriverConfiguration settings;
    if (readDriverConfiguration(driver, &settings) != RET_OK) return std::string();
    return configurationDocument(settings);
}

}  // namespace kinetra::config
