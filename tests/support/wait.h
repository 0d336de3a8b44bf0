#pragma once
// Waits for a condition with a bound, checking every few milliseconds: for tests
// that observe another thread's effect.

#include <kinetra/interface.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>

namespace kinetra::test {

template <typename Predicate>
bool eventually(Predicate predicate, std::chrono::milliseconds timeout = std::chrono::milliseconds(2000)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

/// Fails the test unless `node` appears in `bus`'s presence table in time.
inline void waitPresent(Interface& bus, uint32_t node) {
    ASSERT_TRUE(eventually([&] { return bus.isDeviceConnected(node); })) << "node " << node << " never appeared";
}

}  // namespace kinetra::test
