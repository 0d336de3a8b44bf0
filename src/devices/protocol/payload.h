#pragma once
// Packing and unpacking of payload values end to end from bit 0, each as wide as
// its type. Used by the command builders, the reply decoder and the simulator.

#include <kinetra/can_frame.h>

#include "can/payload_bits.h"
#include "devices/protocol/reply_layout.h"

#include <cstdint>
#include <string>

namespace kinetra::protocol {

/// The eight data bytes as one little-endian word.
inline uint64_t payloadWord(const can_frame_data& frame) { return loadPayloadWord(frame); }

/// Stores a little-endian word into the eight data bytes.
inline void setPayloadWord(can_frame_data& frame, uint64_t word) { storePayloadWord(frame, word); }

using kinetra::fromBits;
using kinetra::toBits;

/// Text replies: the data bytes within the DLC, up to the first zero byte.
inline std::string textFromFrame(const can_frame_data& frame) {
    // Only the bytes the frame carries: a transport need not zero the rest.
    const std::size_t carried = frame.can_dlc < 8 ? frame.can_dlc : 8;
    std::size_t length = 0;
    while (length < carried && frame.data[length] != 0) ++length;
    return std::string(reinterpret_cast<const char*>(frame.data), length);
}

/// Packs values end to end from payload bit 0 into one word.
class PayloadPacker {
public:
    /// Appends one value; bits that would fall beyond the payload are dropped.
    template <typename T>
    PayloadPacker& put(const T& value) {
        constexpr unsigned width = bitWidth(kindOf<T>());
        if (offset_ < 64) {
            const uint64_t mask = width >= 64 ? ~uint64_t{0} : (uint64_t{1} << width) - 1;
            word_ |= (toBits(value) & mask) << offset_;
        }
        offset_ += width;
        return *this;
    }
    /// Skips bits that carry no signal (they stay zero).
    PayloadPacker& skip(unsigned bits) {
        offset_ += bits;
        return *this;
    }
    /// The packed payload word.
    uint64_t word() const { return word_; }

private:
    uint64_t word_ = 0;
    unsigned offset_ = 0;
};

/// Packs values into a frame's payload, stored when the writer goes out of scope.
class PayloadWriter {
public:
    explicit PayloadWriter(can_frame_data& frame) : frame_(frame) {}
    ~PayloadWriter() { setPayloadWord(frame_, packer_.word()); }
    PayloadWriter(const PayloadWriter&) = delete;
    PayloadWriter& operator=(const PayloadWriter&) = delete;

    /// Appends one value; bits that would fall beyond the payload are dropped.
    template <typename T>
    PayloadWriter& put(const T& value) {
        packer_.put(value);
        return *this;
    }
    /// Skips bits that carry no signal (they stay zero).
    PayloadWriter& skip(unsigned bits) {
        packer_.skip(bits);
        return *this;
    }

private:
    can_frame_data& frame_;
    PayloadPacker packer_;
};

}  // namespace kinetra::protocol
