#pragma once
// The time-out arithmetic both serial::Serial implementations bound their waits
// with: serial::Timeout turned into deadlines, saturating instead of wrapping.

#include <kinetra/serial/serial.h>

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace kinetra {

/// How long one readline() may wait, in milliseconds.
struct ReadBounds {
    /// For the first byte, or a byte while none is buffered: constant + multiplier.
    uint64_t first_byte;
    /// After a byte arrived: the first-byte bound, capped by the inter-byte time-out.
    uint64_t between_bytes;
};

/// The read bounds of `timeout`.
ReadBounds readBounds(const serial::Timeout& timeout);

/// Milliseconds a write of `size` bytes may take: constant + multiplier * size,
/// saturating rather than wrapping around for absurd sizes.
uint64_t writeBudget(const serial::Timeout& timeout, std::size_t size);

/// A deadline `ms` from `from`, saturating instead of overflowing the clock.
std::chrono::steady_clock::time_point deadlineAfter(std::chrono::steady_clock::time_point from, uint64_t ms);

/// Milliseconds until `deadline`, rounded up so a wait never ends early and loops
/// without sleeping; 0 once it has passed; at most `limit`.
uint64_t millisecondsUntil(std::chrono::steady_clock::time_point deadline, uint64_t limit);

}  // namespace kinetra
