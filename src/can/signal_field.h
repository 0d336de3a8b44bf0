#pragma once
// The bit-field access behind canGetSignal and canSetSignal. The setter's
// definition is here so that a higher layer can instantiate it for its own
// enumerations (the IMU's report selector) without the frame layer knowing them.

#include <kinetra/can_frame.h>

#include "can/payload_bits.h"

#include <cstdint>

namespace kinetra::signal_field {

// A big-endian field is addressed in the byte-reversed word.
inline uint64_t loadWord(const can_frame_data& frame, bool little_endian) {
    const uint64_t word = kinetra::loadPayloadWord(frame);
    return little_endian ? word : __builtin_bswap64(word);
}

inline void storeWord(can_frame_data& frame, uint64_t word, bool little_endian) {
    kinetra::storePayloadWord(frame, little_endian ? word : __builtin_bswap64(word));
}

inline uint64_t fieldMask(unsigned length) { return length >= 64 ? ~uint64_t{0} : (uint64_t{1} << length) - 1; }

inline unsigned fieldShift(unsigned start, unsigned length, bool little_endian) {
    return (little_endian ? start : 64u - start - length) & 63u;
}

inline uint64_t readField(const can_frame_data& frame, unsigned start, unsigned length, bool little_endian) {
    return (loadWord(frame, little_endian) >> fieldShift(start, length, little_endian)) & fieldMask(length);
}

inline void writeField(can_frame_data& frame, uint64_t raw, unsigned start, unsigned length, bool little_endian) {
    const unsigned shift = fieldShift(start, length, little_endian);
    const uint64_t mask = fieldMask(length) << shift;
    uint64_t word = loadWord(frame, little_endian);
    word = (word & ~mask) | ((raw << shift) & mask);
    storeWord(frame, word, little_endian);
}

}  // namespace kinetra::signal_field

template <typename T>
void canSetSignal(can_frame_data& frame, const T& value, unsigned char start, unsigned char length,
                  bool little_endian) {
    kinetra::signal_field::writeField(frame, kinetra::toBits(value), start, length, little_endian);
}

