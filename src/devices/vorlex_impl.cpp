#include "devices/vorlex_impl.h"

#include "devices/protocol/motor_controller_protocol.h"

#include <iterator>

namespace {

namespace vorlex_ops = kinetra::protocol::vorlex::vorlex_ops;
using kinetra::protocol::motor::kCanBitRates;

// The selector whose bit rate is `bits`; -1 for a rate outside the table.
CANBaudRate selectorOf(unsigned int bits) {
    for (std::size_t i = 0; i < std::size(kCanBitRates); ++i) {
        if (kCanBitRates[i] == bits) return static_cast<CANBaudRate>(i);
    }
    return static_cast<CANBaudRate>(-1);
}

}  // namespace

ret_status_t Vorlex::VorlexImpl::setCANBaudRate(CANBaudRate rate) {
    const kinetra::protocol::Operation& op = vorlex_ops::setCANBaudRate;
    const double selector = kinetra::operationValue(rate);
    if (!kinetra::acceptsArguments(op, &selector, 1)) {
        const ret_status_t status = guard();
        return status != RET_OK ? status : RET_INVALID_ARGUMENT;
    }
    const double bit_rate = kCanBitRates[static_cast<int>(rate)];
    return sendCommand(op.command, op.frame, op.dlc, kinetra::requestPayload(op, &bit_rate, 1));
}

ret_status_t Vorlex::VorlexImpl::getCANBaudRate(CANBaudRate* rate) {
    // The reply is decoded into a zeroed local and mapped whenever the query went
    // out, so a timed-out read reports -1 (0 bit/s is no table rate).
    unsigned int bits = 0;
    const ret_status_t status = run<vorlex_ops::getCANBaudRate>(&bits);
    if (status == RET_OK || status == RET_TIMEOUT) *rate = selectorOf(bits);
    return status;
}
