#pragma once
// Waits for a condition with a bound, checking every few milliseconds: for tests
// that observe another thread's effect.

#include <chrono>
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

}  // namespace kinetra::test
