#pragma once
// A ProcedureClock whose methods a Python subclass provides, so Python tests can
// run the long procedures on a clock of their own.

#include <kinetra/procedure_clock.h>

namespace kinetra::python {

/// Calls the Python subclass's now(), sleep_for(seconds), reply_wait(bound) and
/// reply_wait_expired(bound), all in seconds, with the GIL taken. A method the
/// subclass lacks behaves as the system clock's; one that raises is reported as
/// unraisable and does the same.
class PythonProcedureClock : public ProcedureClock {
public:
    clock::time_point now() override;
    void sleepFor(clock::duration duration) override;
    clock::duration replyWait(clock::duration bound) override;
    void replyWaitExpired(clock::duration bound) override;
};

}  // namespace kinetra::python
