#include "devices/vorlex_impl.h"

#include "devices/protocol/motor_controller_protocol.h"
#include "devices/protocol/vorlex_protocol.h"

#include <iterator>

namespace {

namespace vorlex = kinetra::protocol::vorlex;
using kinetra::protocol::FrameKind;
using kinetra::protocol::PayloadWriter;
using kinetra::protocol::motor::kCanBitRates;

bool isTableRate(CANBaudRate rate) {
    const int index = static_cast<int>(rate);
    return index >= 0 && index < static_cast<int>(std::size(kCanBitRates));
}

// The selector whose bit rate is `bits`; -1 for a rate outside the table.
CANBaudRate selectorOf(unsigned int bits) {
    for (std::size_t i = 0; i < std::size(kCanBitRates); ++i) {
        if (kCanBitRates[i] == bits) return static_cast<CANBaudRate>(i);
    }
    return static_cast<CANBaudRate>(-1);
}

}  // namespace

ret_status_t Vorlex::VorlexImpl::getEncoderCount(int* count) { return query<vorlex::kGetEncoderCount>(count); }

ret_status_t Vorlex::VorlexImpl::getEncoderRawData(unsigned int* raw) {
    return query<vorlex::kGetEncoderRawData>(raw);
}

ret_status_t Vorlex::VorlexImpl::setCurrentPositionToZero() {
    return sendCommand(vorlex::kSetCurrentPositionToZero, FrameKind::Remote, 0);
}

ret_status_t Vorlex::VorlexImpl::configureEncoder(unsigned char type, int resolution) {
    can_frame_data payload{};
    PayloadWriter(payload).put(type).put(resolution);
    return sendCommand(vorlex::kConfigureEncoder, FrameKind::Data, vorlex::kConfigureEncoderDlc, payload);
}

ret_status_t Vorlex::VorlexImpl::getEncoderConfiguration(unsigned char* type, int* resolution) {
    return query<vorlex::kGetEncoderConfiguration>(type, resolution);
}

ret_status_t Vorlex::VorlexImpl::setEncoderDirection(unsigned char direction) {
    can_frame_data payload{};
    PayloadWriter(payload).put(direction);
    return sendCommand(vorlex::kSetEncoderDirection, FrameKind::Data, vorlex::kSetEncoderDirectionDlc, payload);
}

ret_status_t Vorlex::VorlexImpl::getEncoderDirection(unsigned char* direction) {
    return query<vorlex::kGetEncoderDirection>(direction);
}

ret_status_t Vorlex::VorlexImpl::setScalingFactor(float factor) {
    can_frame_data payload{};
    PayloadWriter(payload).put(factor);
    return sendCommand(vorlex::kSetScalingFactor, FrameKind::Data, vorlex::kSetScalingFactorDlc, payload);
}

ret_status_t Vorlex::VorlexImpl::setFilterWindowLength(unsigned int length) {
    can_frame_data payload{};
    PayloadWriter(payload).put(length);
    return sendCommand(vorlex::kSetFilterWindowLength, FrameKind::Data, vorlex::kSetFilterWindowLengthDlc, payload);
}

ret_status_t Vorlex::VorlexImpl::getFilterWindowLength(unsigned int* length) {
    return query<vorlex::kGetFilterWindowLength>(length);
}

ret_status_t Vorlex::VorlexImpl::setLinearCount(unsigned int count) {
    can_frame_data payload{};
    PayloadWriter(payload).put(count);
    return sendCommand(vorlex::kSetLinearCount, FrameKind::Data, vorlex::kSetLinearCountDlc, payload);
}

ret_status_t Vorlex::VorlexImpl::setMAxxxSPIRegister(unsigned char address, unsigned char value) {
    can_frame_data payload{};
    PayloadWriter(payload).put(address).put(value);
    return sendCommand(vorlex::kSetMAxxxSPIRegister, FrameKind::Data, vorlex::kSetMAxxxSPIRegisterDlc, payload);
}

ret_status_t Vorlex::VorlexImpl::getMAxxxSPIRegister(unsigned char address, unsigned char* value, bool* flag) {
    can_frame_data payload{};
    PayloadWriter(payload).put(address);
    return queryWith<vorlex::kGetMAxxxSPIRegister>(FrameKind::Data, vorlex::kGetMAxxxSPIRegisterDlc, payload, value,
                                                   flag);
}

ret_status_t Vorlex::VorlexImpl::setCANBaudRate(CANBaudRate rate) {
    const ret_status_t status = guard();
    if (status != RET_OK) return status;
    if (!isTableRate(rate)) return RET_INVALID_ARGUMENT;
    can_frame_data payload{};
    PayloadWriter(payload).put(kCanBitRates[static_cast<int>(rate)]);
    return sendCommand(vorlex::kSetCANBaudRate, FrameKind::Data, vorlex::kSetCANBaudRateDlc, payload);
}

ret_status_t Vorlex::VorlexImpl::getCANBaudRate(CANBaudRate* rate) {
    // The reply is decoded into a zeroed local and mapped whenever the query went
    // out, so a timed-out read reports -1 (0 bit/s is no table rate).
    unsigned int bits = 0;
    const ret_status_t status = query<vorlex::kGetCANBaudRate>(&bits);
    if (status == RET_OK || status == RET_TIMEOUT) *rate = selectorOf(bits);
    return status;
}

ret_status_t Vorlex::VorlexImpl::getErrorCode(unsigned int* code) { return query<vorlex::kGetErrorCode>(code); }

ret_status_t Vorlex::VorlexImpl::clearEncoderErrors() {
    return sendCommand(vorlex::kClearEncoderErrors, FrameKind::Remote, 0);
}

ret_status_t Vorlex::VorlexImpl::getFirmwareCommit(std::string* commit) {
    return query<vorlex::kGetFirmwareCommit>(commit);
}
