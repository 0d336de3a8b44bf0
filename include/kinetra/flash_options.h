#pragma once
/// @file flash_options.h
/// What a caller can add to a firmware update: progress reports, cancelling,
/// a read-back verify and the clock the procedure's pauses and waits go through.

#include <kinetra/procedure_clock.h>

#include <atomic>
#include <cstddef>
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

/// The step of a firmware update at which it stopped.
enum class FlashStep : uint8_t {
    None,         ///< it did not stop: the update succeeded
    Checks,       ///< the interface and the node, before anything is sent
    File,         ///< reading and checking the firmware file
    Entering,     ///< sending the device into its bootloader
    Synchronise,  ///< the bootloader's synchronisation
    SpeedChange,  ///< moving the bootloader to the update's bit rate
    Erase,        ///< erasing sector `FlashResult::sector`
    Write,        ///< writing the block at `FlashResult::address`
    Verify,       ///< reading back the block at `FlashResult::address`
    Go,           ///< starting the new firmware
};

/// Why a firmware update stopped.
enum class FlashFailure : uint8_t {
    None,         ///< it did not: the update succeeded
    Refused,      ///< the bootloader refused the step with `FlashResult::reply_byte`
    NoReply,      ///< no reply within the bound of the step
    FileProblem,  ///< the firmware file is unusable at `FlashResult::file_line`
    Cancelled,    ///< the caller's cancel flag
    AdapterLost,  ///< the adapter went away (unplugged, port failed)
    NotRunning,   ///< the interface is not running
    NodeAbsent,   ///< the node is not on the bus
    Differs,      ///< the read-back differs from the image at `FlashResult::address`
};

/// What a firmware update ended with, next to its status.
struct FlashResult {
    FlashStep step = FlashStep::None;            ///< where it stopped
    FlashFailure reason = FlashFailure::None;    ///< why
    uint32_t sector = 0;                         ///< the sector of an Erase step
    uint32_t address = 0;                        ///< the address of a Write or Verify step
    uint8_t reply_byte = 0;                      ///< the bootloader's refusing reply byte
    std::size_t file_line = 0;                   ///< the firmware file's line (from 1), 0 when none
    /// Whether the device is known to wait in its bootloader: it answered the
    /// update (or was said to be there) and its new firmware was not started.
    bool in_bootloader = false;
    std::string text;  ///< the same as `FlashOptions::failure`, empty on success
};

/// Options of `flash`. Defaults give exactly the plain procedure.
struct FlashOptions {
    /// Called on the flashing thread after every exchange that moves the update on.
    std::function<void(const FlashProgress&)> progress;
    /// Checked between exchanges and, a few times a second, during every reply
    /// wait; once true, the update ends through its failure exit (adapter back
    /// at 500 kbit/s, no Go sent after it) with RET_NOT_RUNNING.
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
    /// When set, receives where and why the update stopped (see FlashResult);
    /// reset when the update starts. Written on the flashing thread.
    FlashResult* result = nullptr;
};

}  // namespace kinetra
