#pragma once
/// @file reply_faults.h
/// The ways a simulated node can misbehave when it answers a query.

#include <chrono>
#include <cstdint>
#include <optional>

namespace kinetra::sim {

/// Applied to each reply a node is about to send.
struct ReplyFaults {
    /// Fraction of replies silently dropped: 0 none, 1 all, values between drop
    /// that share at random (seeded, so a run repeats).
    double drop_fraction = 0.0;
    /// Extra time before the reply leaves the node.
    std::chrono::microseconds delay{0};
    /// When set, the reply carries this command id instead of the query's.
    std::optional<uint8_t> answer_as;

    /// Whether these faults change anything.
    bool any() const { return drop_fraction > 0.0 || delay.count() > 0 || answer_as.has_value(); }
};

}  // namespace kinetra::sim
