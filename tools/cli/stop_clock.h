#pragma once
// The steady clock for a library procedure, whose pauses end early at a stop
// request: the procedure then sees its cancel flag at once instead of after its
// current pause (the calibration pauses 100 ms after each register write).

#include "cli/stop_flag.h"

#include <kinetra/procedure_clock.h>

namespace kinetra::cli {

class StopClock : public ProcedureClock {
public:
    explicit StopClock(StopFlag& stop) : stop_(stop) {}

    clock::time_point now() override { return clock::now(); }
    void sleepFor(clock::duration duration) override { stop_.waitFor(duration); }

private:
    StopFlag& stop_;
};

}  // namespace kinetra::cli
