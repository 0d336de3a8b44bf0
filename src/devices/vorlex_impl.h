#pragma once
// The encoder's operations over the shared device core. The public Vorlex class
// forwards every call here once it has checked that this object exists.

#include <kinetra/vorlex.h>

#include "devices/device_core.h"
#include "devices/device_traits.h"

#include <cstdint>
#include <string>

struct Vorlex::VorlexImpl : kinetra::DeviceCore<kinetra::VorlexTraits> {
    using kinetra::DeviceCore<kinetra::VorlexTraits>::DeviceCore;

    /// Every float read of the encoder: one f32 reply, passed through.
    template <uint8_t Command>
    ret_status_t readFloat(float* value) {
        return this->template query<Command>(value);
    }

    ret_status_t getEncoderCount(int* count);
    ret_status_t getEncoderRawData(unsigned int* raw);
    ret_status_t setCurrentPositionToZero();

    ret_status_t configureEncoder(unsigned char type, int resolution);
    ret_status_t getEncoderConfiguration(unsigned char* type, int* resolution);
    ret_status_t setEncoderDirection(unsigned char direction);
    ret_status_t getEncoderDirection(unsigned char* direction);
    ret_status_t setScalingFactor(float factor);
    ret_status_t setFilterWindowLength(unsigned int length);
    ret_status_t getFilterWindowLength(unsigned int* length);
    ret_status_t setLinearCount(unsigned int count);

    ret_status_t setMAxxxSPIRegister(unsigned char address, unsigned char value);
    ret_status_t getMAxxxSPIRegister(unsigned char address, unsigned char* value, bool* flag);

    ret_status_t setCANBaudRate(CANBaudRate rate);
    ret_status_t getCANBaudRate(CANBaudRate* rate);
    ret_status_t getErrorCode(unsigned int* code);
    ret_status_t clearEncoderErrors();

    ret_status_t getFirmwareCommit(std::string* commit);
};
