#pragma once
// The motor driver's own operations on top of the ones it shares with the
// actuator: open-loop and sensorless modes, encoder runs, the driver-only
// configuration, the encoder configuration, hall sensor reads and the sensor
// chip's registers, and the driver's layouts of the replies the two classes
// answer differently.

#include <kinetra/driver_error.h>

#include "devices/device_traits.h"
#include "devices/motor_controller.h"

namespace kinetra {

/// The driver's error code for a received value: codes it does not know become
/// DRIVER_ERROR_UNRECOGNISED.
inline driver_error_t driverErrorFromCode(uint32_t code) {
    if (code <= protocol::motor::kLastErrorCode || code == protocol::motor::kErrorCodeUnrecognised) {
        return static_cast<driver_error_t>(code);
    }
    return DRIVER_ERROR_UNRECOGNISED;
}

/// The selector of a bit rate, or -1 when the table does not list it.
inline int baudRateSelectorOf(uint32_t bits_per_second) {
    for (int selector = 0; selector < protocol::motor::kCanBitRateCount; ++selector) {
        if (protocol::motor::kCanBitRates[selector] == bits_per_second) return selector;
    }
    return -1;
}

class DriverCommands : public MotorController<DriverTraits> {
public:
    using MotorController<DriverTraits>::MotorController;

    // ---- Modes only the driver has.

    ret_status_t setTorqueRampControl(float torque, float b, float c) {
        return send(protocol::motor::kTorqueRampFrame,
                    MotorPayload().f32(torque).scaled16(b, 0.001f).scaled16(c, 1.0f));
    }
    ret_status_t setSensorlessVelocityControl(float velocity, float b, float c) {
        return send(protocol::motor::kSensorlessVelocityFrame,
                    MotorPayload().f32(velocity).scaled16(b, 1.0f).scaled16(c, 0.1f));
    }
    ret_status_t setOpenLoopPositionControl(short a, short b, short c, float d) {
        return send(protocol::motor::kOpenLoopPositionFrame, MotorPayload().i16(a).i16(b).i16(c).scaled16(d, 0.1f));
    }
    ret_status_t setOpenLoopVelocityControl(short a, short b, float c) {
        return send(protocol::motor::kOpenLoopVelocityFrame, MotorPayload().i16(a).i16(b).scaled16(c, 0.1f));
    }
    ret_status_t runEncoderIndexSearch() { return send(protocol::motor::kEncoderIndexSearchFrame); }
    ret_status_t runEncoderMatching() { return send(protocol::motor::kEncoderMatchingFrame); }
    ret_status_t runEncoderCalibration() { return send(protocol::motor::kEncoderCalibrationFrame); }
    ret_status_t setCurrentPositionAs(float position) {
        return send(protocol::motor::kPositionAsFrame, MotorPayload().f32(position));
    }

    // ---- Driver-only configuration.

    ret_status_t enableBrakeResistor(float resistance) {
        return send(protocol::motor::kBrakeResistorOnFrame, MotorPayload().f32(resistance).flag(true));
    }
    ret_status_t disableBrakeResistor() { return send(protocol::motor::kBrakeResistorOffFrame); }
    ret_status_t setMotorParameters(unsigned char pole_pairs, unsigned short kv_rating, float current_limit) {
        return send(protocol::motor::kMotorParametersFrame,
                    MotorPayload().u8(pole_pairs).u16(kv_rating).f32(current_limit));
    }
    ret_status_t setMotorCalibrationParameters(float voltage, float current) {
        return send(protocol::motor::kMotorCalibrationParametersFrame, MotorPayload().f32(voltage).f32(current));
    }
    ret_status_t setGearBoxParameters(float ratio) {
        return send(protocol::motor::kGearBoxParametersFrame, MotorPayload().f32(ratio));
    }
    ret_status_t setMotorThermistorParameters(float r_ref, unsigned short beta) {
        return send(protocol::motor::kMotorThermistorParametersFrame, MotorPayload().f32(r_ref).u16(beta));
    }
    ret_status_t setStartupConfigs(bool index_search, bool encoder_matching, bool closed_loop) {
        return send(protocol::motor::kStartupConfigsFrame,
                    MotorPayload().flag(index_search).flag(encoder_matching).flag(closed_loop));
    }
    ret_status_t setMotorPhaseParameters(float resistance, float inductance) {
        return send(protocol::motor::kMotorPhaseParametersFrame, MotorPayload().f32(resistance).f32(inductance));
    }
    ret_status_t setMotorTorqueLimit(float limit) {
        return send(protocol::motor::kMotorTorqueLimitFrame, MotorPayload().f32(limit));
    }
    ret_status_t setMotorType(unsigned char type) {
        return send(protocol::motor::kMotorTypeFrame, MotorPayload().u8(type));
    }

    /// A selector outside the table is refused before anything is sent.
    ret_status_t setCANBaudRate(CANBaudRate rate) {
        const ret_status_t status = guard();
        if (status != RET_OK) return status;
        const int selector = static_cast<int>(rate);
        if (selector < 0 || selector >= protocol::motor::kCanBitRateCount) return RET_INVALID_ARGUMENT;
        return send(protocol::motor::kCANBaudRateFrame, MotorPayload().u32(protocol::motor::kCanBitRates[selector]));
    }

    // ---- Driver-only reads.

    ret_status_t getBrakeResistorState(bool* enabled, float* resistance, bool* c, bool* d) {
        return query<protocol::motor::kGetBrakeResistorState>(resistance, enabled, c, d);
    }
    ret_status_t getMotorParameters(unsigned char* pole_pairs, unsigned short* kv_rating, float* current_limit) {
        return query<protocol::motor::kGetMotorParameters>(pole_pairs, kv_rating, current_limit);
    }
    ret_status_t getMotorCalibrationParameters(float* voltage, float* current) {
        return query<protocol::motor::kGetMotorCalibrationParameters>(voltage, current);
    }
    ret_status_t getGearBoxParameters(float* ratio) { return query<protocol::motor::kGetGearBoxParameters>(ratio); }
    /// The driver reports the upper temperature limit; the lower one is derived.
    ret_status_t getMotorThermistorConfiguration(bool* enabled, float* r_ref, unsigned short* beta,
                                                 unsigned char* upper_limit, unsigned char* lower_limit) {
        const ret_status_t status =
            query<protocol::motor::kGetMotorThermistorConfiguration>(r_ref, beta, upper_limit, enabled);
        if (status == RET_OK) {
            *lower_limit = static_cast<unsigned char>(*upper_limit - protocol::motor::kThermistorHysteresis);
        }
        return status;
    }
    ret_status_t getStartupConfigs(bool* index_search, bool* encoder_matching, bool* closed_loop) {
        return query<protocol::motor::kGetStartupConfigs>(index_search, encoder_matching, closed_loop);
    }
    ret_status_t getMotorTorqueLimit(float* limit) { return query<protocol::motor::kGetMotorTorqueLimit>(limit); }
    ret_status_t getMotorType(unsigned char* type) { return query<protocol::motor::kGetMotorType>(type); }
    /// A bit rate the table does not list reads as -1.
    ret_status_t getCANBaudRate(CANBaudRate* rate) {
        unsigned int bits_per_second = 0;
        const ret_status_t status = query<protocol::motor::kGetCANBaudRate>(&bits_per_second);
        if (status == RET_OK) *rate = static_cast<CANBaudRate>(baudRateSelectorOf(bits_per_second));
        return status;
    }
    ret_status_t getBrakeCurrent(float* current) { return query<protocol::motor::kGetBrakeCurrent>(current); }
    ret_status_t getErrorCode(driver_error_t* error) {
        unsigned int code = 0;
        const ret_status_t status = getRawErrorCode(&code);
        if (status == RET_OK) *error = driverErrorFromCode(code);
        return status;
    }

    // ---- Encoders and hall sensors.

    ret_status_t configureMotorEncoder(unsigned char type, int resolution, bool use_index) {
        return send(protocol::motor::kConfigureMotorEncoderFrame,
                    MotorPayload().u8(type).i32(resolution).flag(use_index));
    }
    ret_status_t getMotorEncoderConfiguration(unsigned char* type, int* resolution, bool* use_index) {
        return query<protocol::motor::kGetMotorEncoderConfiguration>(type, resolution, use_index);
    }
    /// Configures the output encoder and enables it.
    ret_status_t configureOutputEncoder(unsigned char type, int resolution, bool use_index) {
        return send(protocol::motor::kConfigureOutputEncoderFrame,
                    MotorPayload().u8(type).i32(resolution).flag(use_index).flag(true));
    }
    ret_status_t disableOutputEncoder() { return send(protocol::motor::kConfigureOutputEncoderFrame); }
    ret_status_t getOutputEncoderConfiguration(unsigned char* type, int* resolution, bool* use_index) {
        return query<protocol::motor::kGetOutputEncoderConfiguration>(type, resolution, use_index);
    }
    ret_status_t getMotorEncoderState(bool* a, bool* b, bool* c) {
        return query<protocol::motor::kGetMotorEncoderState>(a, b, c);
    }
    ret_status_t getOutputEncoderState(bool* a, bool* b) {
        return query<protocol::motor::kGetOutputEncoderState>(a, b);
    }
    ret_status_t getHallEncoderState(unsigned char* state) {
        return query<protocol::motor::kGetHallEncoderState>(state);
    }

    /// Two exchanges of four counts each. The second is made even when the first
    /// timed out, but the result reports the first failure: RET_OK means all
    /// eight counts were written.
    ret_status_t getHallEncoderStateCounts(unsigned short* c1, unsigned short* c2, unsigned short* c3,
                                           unsigned short* c4, unsigned short* c5, unsigned short* c6,
                                           unsigned short* c7, unsigned short* c8) {
        const ret_status_t first = query<protocol::motor::kGetHallEncoderStateCountsLow>(c1, c2, c3, c4);
        if (first != RET_OK && first != RET_TIMEOUT) return first;
        const ret_status_t second = query<protocol::motor::kGetHallEncoderStateCountsHigh>(c5, c6, c7, c8);
        return first != RET_OK ? first : second;
    }

    // ---- Registers of the magnetic angle sensor chip; `output` selects the
    // output encoder's chip, else the motor encoder's.

    ret_status_t getMAxxxSPIRegister(bool output, unsigned char reg, unsigned char* value, bool* flag) {
        return request<protocol::motor::kGetMAxxxSPIRegister>(protocol::motor::kSPIRegisterReadFrame,
                                                              MotorPayload().flag(output).u8(reg), value, flag);
    }
    ret_status_t setMAxxxSPIRegister(bool output, unsigned char reg, unsigned char value) {
        return send(protocol::motor::kSPIRegisterWriteFrame, MotorPayload().flag(output).u8(reg).u8(value));
    }
    ret_status_t getMAxxxBCTValue(bool output, unsigned char* value, bool* flag) {
        return getMAxxxSPIRegister(output, protocol::motor::kMAxxxRegBiasCurrentTrimming, value, flag);
    }
    ret_status_t setMAxxxBCTValue(bool output, unsigned char value) {
        return setMAxxxSPIRegister(output, protocol::motor::kMAxxxRegBiasCurrentTrimming, value);
    }
    ret_status_t getMAxxxFilterWindow(bool output, unsigned char* value, bool* flag) {
        return getMAxxxSPIRegister(output, protocol::motor::kMAxxxRegFilterWindow, value, flag);
    }
    ret_status_t setMAxxxFilterWindow(bool output, unsigned char value) {
        return setMAxxxSPIRegister(output, protocol::motor::kMAxxxRegFilterWindow, value);
    }
    ret_status_t getMAxxxTrimmingSettings(bool output, bool* first, bool* second, bool* flag) {
        unsigned char value = 0;
        bool reply_flag = false;
        const ret_status_t status =
            getMAxxxSPIRegister(output, protocol::motor::kMAxxxRegTrimmingSettings, &value, &reply_flag);
        if (status == RET_OK) {
            *first = (value & 0x01) != 0;
            *second = (value & 0x02) != 0;
            *flag = reply_flag;
        }
        return status;
    }
    ret_status_t setMAxxxTrimmingSettings(bool output, bool first, bool second) {
        const auto value = static_cast<unsigned char>((first ? 1 : 0) + (second ? 2 : 0));
        return setMAxxxSPIRegister(output, protocol::motor::kMAxxxRegTrimmingSettings, value);
    }
};

}  // namespace kinetra
