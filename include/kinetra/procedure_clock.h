#pragma once
/// @file procedure_clock.h
/// The time seam of the library's long procedures (firmware update, off-axis
/// calibration): their pauses and their reply waits go through one of these, so
/// a program can observe them and a test can run a 20-second wait in milliseconds.

#include <kinetra/export.h>

#include <chrono>

namespace kinetra {

/// Time and pauses as a long procedure sees them.
class KINETRA_API ProcedureClock {
public:
    /// The clock procedures measure time with.
    using clock = std::chrono::steady_clock;

    virtual ~ProcedureClock() = default;

    /// The procedure's current time.
    virtual clock::time_point now() = 0;

    /// Pauses the procedure for `duration`.
    virtual void sleepFor(clock::duration duration) = 0;

    /// How long a reply wait that the protocol bounds by `bound` really blocks.
    /// The system clock blocks the whole bound; a test clock may block less and
    /// count the bound as passed when the wait ends without a reply
    /// (`replyWaitExpired`).
    virtual clock::duration replyWait(clock::duration bound) { return bound; }

    /// Told when a reply wait of `bound` ended without a reply.
    virtual void replyWaitExpired(clock::duration bound) { (void)bound; }
};

/// The steady clock and real sleeps: what every procedure uses by default.
KINETRA_API ProcedureClock& systemProcedureClock();

}  // namespace kinetra
