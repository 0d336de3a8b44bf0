#pragma once
// Shared by the configuration tests: reply bytes built from typed values, and a
// driver on a scripted node whose configuration reads all answer.

#include "kinetra_sim/payload_values.h"

#include <cstdint>
#include <vector>

namespace kinetra::test {

/// The eight reply bytes carrying `values` end to end from bit 0.
template <typename... T>
std::vector<uint8_t> replyBytes(const T&... values) {
    const uint64_t word = sim::packWord(values...);
    std::vector<uint8_t> bytes(8);
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(word >> (8 * i));
    return bytes;
}

}  // namespace kinetra::test
