#pragma once
// Tests use the simulator's manual clock: procedures with second-long pauses and
// 20-second reply waits run in milliseconds.

#include <kinetra_sim/manual_clock.h>

namespace kinetra::test {
using ManualClock = kinetra::sim::ManualClock;
}  // namespace kinetra::test
