#pragma once
// A command frame's payload word read as the command's argument fields.

#include "devices/protocol/payload.h"
#include "kinetra_sim/payload_values.h"

#include <tuple>

namespace kinetra::sim {

/// The fields `T...` packed into the frame's payload word, in order.
template <typename... T>
std::tuple<T...> argumentsOf(const can_frame_data& frame) {
    return unpackWord<T...>(protocol::payloadWord(frame));
}

}  // namespace kinetra::sim
