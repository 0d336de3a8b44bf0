#pragma once
// Reads a fuzz input as a stream of small values; past the end every read gives
// zero, so a target never has to check what is left.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kinetra::fuzz {

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }

    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }

    uint32_t word() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(byte()) << (8 * i);
        return value;
    }

    /// Any bit pattern, NaNs and infinities included.
    float real() {
        const uint32_t bits = word();
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

    void fill(uint8_t* out, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) out[i] = byte();
    }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace kinetra::fuzz
