#pragma once
// The encoder's implementation over the shared device core: its table
// operations run through run(); the bit rate's two operations add a lookup.

#include <kinetra/vorlex.h>

#include "devices/device_core.h"
#include "devices/device_traits.h"
#include "devices/operation_runner.h"
#include "devices/protocol/vorlex_operations.h"

struct Vorlex::VorlexImpl : kinetra::DeviceCore<kinetra::VorlexTraits> {
    using kinetra::DeviceCore<kinetra::VorlexTraits>::DeviceCore;

    /// Any operation of the encoder's table (see protocol/vorlex_operations.h).
    template <const kinetra::protocol::Operation& Op, typename... A>
    ret_status_t run(A... args) {
        return kinetra::performOperation<Op>(*this, args...);
    }

    /// A selector outside the table's declared range is refused before anything is sent.
    ret_status_t setCANBaudRate(CANBaudRate rate);
    /// A rate outside the table, or a read that timed out, reads as -1.
    ret_status_t getCANBaudRate(CANBaudRate* rate);
};
