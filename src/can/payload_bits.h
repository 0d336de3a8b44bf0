#pragma once
// The eight data bytes as one little-endian 64-bit word, and the bit patterns of
// the value types that travel in it. Shared by the signal functions and the
// protocol's payload packing; both run for every frame, so one memcpy, no loops.

#include <kinetra/can_frame.h>

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace kinetra {

/// The eight data bytes read as a little-endian word.
inline uint64_t loadPayloadWord(const can_frame_data& frame) {
    uint64_t word;
    std::memcpy(&word, frame.data, sizeof word);
    if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) word = __builtin_bswap64(word);
    return word;
}

/// Stores a little-endian word into the eight data bytes.
inline void storePayloadWord(can_frame_data& frame, uint64_t word) {
    if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) word = __builtin_bswap64(word);
    std::memcpy(frame.data, &word, sizeof word);
}

/// The raw bits of `value`, zero-extended: IEEE-754 bits for float, 0 or 1 for
/// bool, the two's complement pattern for integers and enumerations.
template <typename T>
uint64_t toBits(const T& value) {
    if constexpr (std::is_same_v<T, float>) {
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        return bits;
    } else if constexpr (std::is_same_v<T, bool>) {
        return value ? 1 : 0;
    } else if constexpr (std::is_enum_v<T>) {
        return static_cast<std::make_unsigned_t<std::underlying_type_t<T>>>(value);
    } else {
        return static_cast<std::make_unsigned_t<T>>(value);
    }
}

/// A value of type T from the low bits of `bits`; a bool is bit 0.
template <typename T>
T fromBits(uint64_t bits) {
    if constexpr (std::is_same_v<T, float>) {
        const auto raw = static_cast<uint32_t>(bits);
        float value;
        std::memcpy(&value, &raw, sizeof value);
        return value;
    } else if constexpr (std::is_same_v<T, bool>) {
        return (bits & 1u) != 0;
    } else {
        return static_cast<T>(static_cast<std::make_unsigned_t<T>>(bits));
    }
}

}  // namespace kinetra
