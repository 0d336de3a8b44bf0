#include "serial/serial_timeouts.h"

#include <algorithm>

namespace kinetra {

ReadBounds readBounds(const serial::Timeout& timeout) {
    // Each byte may take as long as a read of one byte: constant + multiplier.
    const uint64_t per_byte = uint64_t{timeout.read_timeout_constant} + timeout.read_timeout_multiplier;
    const bool has_inter_byte = timeout.inter_byte_timeout != serial::Timeout::max();
    return {per_byte, has_inter_byte ? std::min<uint64_t>(per_byte, timeout.inter_byte_timeout) : per_byte};
}

uint64_t writeBudget(const serial::Timeout& timeout, std::size_t size) {
    const uint64_t multiplier = timeout.write_timeout_multiplier;
    const uint64_t limit = UINT64_MAX - timeout.write_timeout_constant;
    if (multiplier != 0 && size > limit / multiplier) return UINT64_MAX;
    return timeout.write_timeout_constant + multiplier * size;
}

std::chrono::steady_clock::time_point deadlineAfter(std::chrono::steady_clock::time_point from, uint64_t ms) {
    constexpr uint64_t kYear = 365ULL * 24 * 3600 * 1000;  // longer than any real wait
    return from + std::chrono::milliseconds(std::min(ms, kYear));
}

uint64_t millisecondsUntil(std::chrono::steady_clock::time_point deadline, uint64_t limit) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return std::min(static_cast<uint64_t>(ms), limit);
}

}  // namespace kinetra
