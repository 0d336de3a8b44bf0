#pragma once
// CPU time used by one running thread, for the simulator's cost figures.

#include <chrono>
#include <thread>

namespace kinetra::sim {

/// The CPU time `thread` has used; zero when it does not run.
std::chrono::nanoseconds threadCpuTime(std::thread& thread);

}  // namespace kinetra::sim
