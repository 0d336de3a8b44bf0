#pragma once
// The motor driver's implementation: its table operations run through run();
// these are the ones that add something to their table entry (a bit-rate
// lookup, a mapped error code, a reordered or derived reply, two exchanges).

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

    /// A selector outside the table's declared range is refused before anything is sent.
    ret_status_t setCANBaudRate(CANBaudRate rate) {
        const protocol::Operation& op = protocol::motor::driver_ops::setCANBaudRate;
        const double selector = operationValue(rate);
        if (!acceptsArguments(op, &selector, 1)) {
            const ret_status_t status = guard();
            return status != RET_OK ? status : RET_INVALID_ARGUMENT;
        }
        const double bit_rate = protocol::motor::kCanBitRates[static_cast<int>(rate)];
        return sendCommand(op.command, op.frame, op.dlc, requestPayload(op, &bit_rate, 1));
    }
    /// A bit rate the table does not list reads as -1.
    ret_status_t getCANBaudRate(CANBaudRate* rate) {
        unsigned int bits_per_second = 0;
        const ret_status_t status = run<protocol::motor::driver_ops::getCANBaudRate>(&bits_per_second);
        if (status == RET_OK) *rate = static_cast<CANBaudRate>(baudRateSelectorOf(bits_per_second));
        return status;
    }

    ret_status_t getErrorCode(driver_error_t* error) {
        unsigned int code = 0;
        const ret_status_t status = run<protocol::motor::driver_ops::getErrorCode>(&code);
        if (status == RET_OK) *error = driverErrorFromCode(code);
        return status;
    }
    /// The reply carries the resistance first; the public order starts with the flag.
    ret_status_t getBrakeResistorState(bool* enabled, float* resistance, bool* c, bool* d) {
        return run<protocol::motor::driver_ops::getBrakeResistorState>(resistance, enabled, c, d);
    }
    /// The driver reports the upper temperature limit; the lower one is derived.
    ret_status_t getMotorThermistorConfiguration(bool* enabled, float* r_ref, unsigned short* beta,
                                                 unsigned char* upper_limit, unsigned char* lower_limit) {
        const ret_status_t status =
            run<protocol::motor::driver_ops::getMotorThermistorConfiguration>(r_ref, beta, upper_limit, enabled);
        if (status == RET_OK) {
            *lower_limit = static_cast<unsigned char>(*upper_limit - protocol::motor::kThermistorHysteresis);
        }
        return status;
    }

    /// Two exchanges of four counts each. The second is made even when the first
    /// timed out, but the result reports the first failure: RET_OK means all
    /// eight counts were written.
    ret_status_t getHallEncoderStateCounts(unsigned short* c1, unsigned short* c2, unsigned short* c3,
                                           unsigned short* c4, unsigned short* c5, unsigned short* c6,
                                           unsigned short* c7, unsigned short* c8) {
        const ret_status_t first = run<protocol::motor::driver_ops::getHallEncoderStateCounts>(c1, c2, c3, c4);
        if (first != RET_OK && first != RET_TIMEOUT) return first;
        const ret_status_t second = query<protocol::motor::kGetHallEncoderStateCountsHigh>(c5, c6, c7, c8);
        return first != RET_OK ? first : second;
    }

    /// The register's bits 0 and 1 are the two settings.
    ret_status_t getMAxxxTrimmingSettings(bool output, bool* first, bool* second, bool* flag) {
        unsigned char value = 0;
        bool reply_flag = false;
        const ret_status_t status =
            run<protocol::motor::driver_ops::getMAxxxTrimmingSettings>(output, &value, &reply_flag);
        if (status == RET_OK) {
            *first = (value & 0x01) != 0;
            *second = (value & 0x02) != 0;
            *flag = reply_flag;
        }
        return status;
    }
};

}  // namespace kinetra
