#pragma once
/// @file flash_options.h
/// What a caller can add to a firmware update: progress reports, cancelling,
/// a read-back verify and the clock the procedure's pauses and waits go through.

#include <kinetra/procedure_clock.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace kinetra {

/// The stages of a firmware update, in order.
enum class FlashStage : uint8_t { Entering, Erasing, Writing, Verifying, Starting };

/// One progress report: the stage and how many of its units are done. Erasing
/// counts sectors, writing and verifying count image bytes, entering and starting
/// count 0 of 1 at their start and 1 of 1 when done.
struct FlashProgress {
    FlashStage stage = FlashStage::Entering;  ///< the step under way
    uint64_t done = 0;                        ///< units of the step done so far
    uint64_t total = 0;                       ///< units of the whole step
};

/// Options of `flash`. Defaults give exactly the plain procedure.
struct FlashOptions {
    /// Called on the flashing thread after every exchange that moves the update on.
    std::function<void(const FlashProgress&)> progress;
    /// Checked between exchanges; once true, the update ends through its failure
    /// exit (adapter back at 500 kbit/s, no Go) with RET_NOT_RUNNING.
    const std::atomic<bool>* cancel = nullptr;
    /// Reads every written block back after the writes and compares it with the
    /// image; the first difference fails the update (no Go) naming its address.
    bool verify = false;
    /// The clock of the pauses and reply waits; null means the real one.
    ProcedureClock* clock = nullptr;
    /// When set, receives why the update did not succeed, as one English line
    /// without a line end: a refused firmware file names the line and what is
    /// wrong there ("firmware file line 7: record type 06 is not one of 00 to
    /// 05"), a failed step names the step. Emptied when the update starts and
    /// left empty on success. Written on the flashing thread.
    std::string* failure = nullptr;
};

}  // namespace kinetra
