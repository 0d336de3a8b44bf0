#pragma once
/// @file offaxis_calibration.h
/// Options and outcome of the off-axis calibration of a magnetic angle sensor
/// chip (MA702, MA732, MA600), for programs that want more than its printed
/// lines: progress, the measured samples, cancelling, a time seam, and the
/// numbers.

#include <kinetra/procedure_clock.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kinetra {

/// The stages of a calibration run, in the order they begin.
enum class OffAxisStage {
    Reset,         ///< bias current, compensation table and trimming settings cleared
    Measurement1,  ///< the error as the chip reports it
    BiasCurrent,   ///< bias current trimming chosen and written
    Measurement2,  ///< the error with the new bias current
    Compensation,  ///< harmonic fit and compensation table (MA600)
    Measurement3,  ///< the error with the compensation table
    Store,         ///< the chip stores its settings (MA600)
    Done,          ///< the run has ended, whatever its outcome
};

/// One measurement's angles: what the chip reported (after the run's own
/// offset removal and unwrapping, as the error metric sees them) and what a
/// shaft turning at the given rate covered since the first sample, in degrees.
struct OffAxisSamples {
    int measurement = 0;  ///< 1, 2 or 3
    std::vector<double> measured;  ///< the angles read
    std::vector<double> expected;  ///< the angles the turning shaft covered
};

/// How a calibration run is observed and timed.
struct OffAxisCalibrationOptions {
    /// Called when a stage begins (`sample` 0) and after every counted sample of
    /// a measurement (`sample` 1 to 500).
    std::function<void(OffAxisStage stage, unsigned sample)> progress;
    /// Receives each completed measurement's samples.
    std::function<void(const OffAxisSamples& samples)> samples;
    /// When set and true, the run stops before its next sample or register write.
    const std::atomic<bool>* cancel = nullptr;
    /// Time and pauses of the run; the system clock when null. Must outlive the
    /// run.
    ProcedureClock* clock = nullptr;
    /// A measurement without a successful read for this long ends the run.
    std::chrono::milliseconds read_timeout{2000};
};

/// Why a run did not calibrate the chip.
enum class OffAxisFailure {
    None,            ///< the run calibrated the chip
    Incompatible,    ///< the encoder is no MA702, MA732 or MA600, or its type could not be read
    Cancelled,       ///< stopped through the cancel flag
    ReadTimedOut,    ///< a measurement got no successful read for the read time-out
    TooSlow,         ///< at the given speed a measurement covers less than a whole turn
    TooFast,         ///< the samples leave gaps in the turn too wide to resolve the error
                     ///< (a speed too high for the sampling)
    ShaftStill,      ///< the measured angle did not advance: the shaft does not turn
    WrongDirection,  ///< the shaft turns against the sign of the given speed
    WrongRate,       ///< the shaft turns at a rate far from the given speed
    NoWholeTurn,     ///< (MA600) the second measurement spans no whole turn between two
                     ///< multiples of 360 degrees: no table, no third measurement, no store
};

/// What the chip holds when a run ends, as far as the run's writes go.
enum class OffAxisChipState {
    Unchanged,    ///< nothing was written
    Cleared,      ///< bias current trimming and compensation table cleared (partly, when
                  ///< stopped during the reset), trimming settings set
    BiasCurrent,  ///< the new bias current trimming, with the table cleared
    Compensated,  ///< the new bias current trimming and compensation table (partly, when
                  ///< stopped while the table was written)
    Stored,       ///< bias current trimming and table, stored in the chip (MA600)
};

/// The error metric of one measurement, in degrees.
struct OffAxisError {
    double half_peak_to_peak = 0.0;   ///< half the error's peak-to-peak span
    double standard_deviation = 0.0;  ///< the error's standard deviation
};

/// What a calibration run did and found.
struct OffAxisCalibrationResult {
    /// The selected encoder is an MA702, MA732 or MA600 (always true for a
    /// Vorlex).
    bool compatible = false;
    /// The run went through to its end ("Done.").
    bool completed = false;
    /// The run was stopped through its cancel flag.
    bool cancelled = false;
    /// A measurement got no successful read for the read time-out.
    bool read_timed_out = false;
    /// How many of `errors` were measured (0 to 3).
    int measurements = 0;
    /// The error of each measurement: as found, with the new bias current, with
    /// the compensation table.
    std::array<OffAxisError, 3> errors{};
    /// The bias current trimming value written (register 2), and whether the
    /// error exceeded the table so that it saturated.
    uint8_t bias_current = 0;
    bool bias_limit_exceeded = false;  ///< see bias_current
    /// The fitted model covered a whole revolution, so a table was computed.
    bool table_computed = false;
    /// The compensation values (degrees) and the bytes written for them.
    std::array<double, 32> compensation{};
    std::array<uint8_t, 32> compensation_bytes{};  ///< see compensation
    /// The compensation table was written to the chip.
    bool table_written = false;
    /// The store sequence was written.
    bool stored = false;

    /// The chip holds a calibration this run made and checked: an MA702 or
    /// MA732 its bias current trimming, an MA600 also its compensation table,
    /// stored. A run can go through to "Done." and still not calibrate (no
    /// table for want of a whole turn); `failure` and `reason` then say why.
    bool calibrated = false;
    /// Why the run did not calibrate; None when it did.
    OffAxisFailure failure = OffAxisFailure::None;
    /// What the chip holds now, as far as the run's writes go. Anything short of
    /// Stored (on an MA600) is lost at the chip's next power cycle.
    OffAxisChipState chip = OffAxisChipState::Unchanged;
    /// How many of the 32 compensation table entries this run wrote.
    int table_entries_written = 0;
    /// One line for people: why the run did not calibrate and what the chip
    /// holds; empty when it calibrated.
    std::string reason;
};

}  // namespace kinetra
