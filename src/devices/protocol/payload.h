#pragma once
// Packing and unpacking of payload values end to end from bit 0, each as wide as
// its type. Used by the command builders, the reply decoder and the simulator.

#include <kinetra/can_frame.h>

#include "devices/protocol/reply_layout.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace kinetra::protocol {

/// The eight data bytes as one little-endian word.
inline uint64_t payloadWord(const can_frame_data& frame) {
    uint64_t word = 0;
    for (int i = 7; i >= 0; --i) word = (word << 8) | frame.data[i];
    return word;
}

/// Stores a little-endian word into the eight data bytes.
inline void setPayloadWord(can_frame_data& frame, uint64_t word) {
    for (int i = 0; i < 8; ++i) frame.data[i] = static_cast<uint8_t>(word >> (8 * i));
}

/// The raw bits of `value` as its payload kind carries them.
template <typename T>
uint64_t toBits(const T& value) {
    if constexpr (std::is_same_v<T, float>) {
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        return bits;
    } else if constexpr (std::is_same_v<T, bool>) {
        return value ? 1 : 0;
    } else {
        return static_cast<std::make_unsigned_t<T>>(value);
    }
}

/// A value of type T read from `bits` (the payload shifted to the value's start).
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

/// Text replies: the data bytes up to the first zero byte, at most eight.
inline std::string textFromFrame(const can_frame_data& frame) {
    std::size_t length = 0;
    while (length < 8 && frame.data[length] != 0) ++length;
    return std::string(reinterpret_cast<const char*>(frame.data), length);
}

/// Writes values end to end from payload bit 0.
class PayloadWriter {
public:
    explicit PayloadWriter(can_frame_data& frame) : frame_(frame) {}
    ~PayloadWriter() { setPayloadWord(frame_, word_); }
    PayloadWriter(const PayloadWriter&) = delete;
    PayloadWriter& operator=(const PayloadWriter&) = delete;

    /// Appends one value; bits that would fall beyond the payload are dropped.
    template <typename T>
    PayloadWriter& put(const T& value) {
        constexpr unsigned width = bitWidth(kindOf<T>());
        if (offset_ < 64) {
            const uint64_t mask = width >= 64 ? ~uint64_t{0} : (uint64_t{1} << width) - 1;
            word_ |= (toBits(value) & mask) << offset_;
        }
        offset_ += width;
        return *this;
    }
    /// Skips bits that carry no signal (they stay zero).
    PayloadWriter& skip(unsigned bits) {
        offset_ += bits;
        return *this;
    }

private:
    can_frame_data& frame_;
    uint64_t word_ = 0;
    unsigned offset_ = 0;
};

}  // namespace kinetra::protocol
