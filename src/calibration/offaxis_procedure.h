#pragma once
// One off-axis calibration run: encoder check, reset, three measurements, the
// bias current, and on the MA600 the harmonic compensation table and its store.
// Everything it does to the chip goes through a SensorLink, and all time
// through a ProcedureClock, so a test feeds it samples and skips its pauses.

#include <kinetra/offaxis_calibration.h>

#include <ostream>
#include <string>
#include <vector>

#include "calibration/offaxis_math.h"
#include "calibration/sensor_link.h"

namespace kinetra::calibration {

class OffAxisProcedure {
public:
    /// `speed`: the shaft's constant rate in degrees per second. Messages go to
    /// `out`.
    OffAxisProcedure(SensorLink& link, float speed, const OffAxisCalibrationOptions& options, std::ostream& out);

    OffAxisCalibrationResult run();

private:
    using Duration = ProcedureClock::clock::duration;

    bool cancelled();
    void stage(OffAxisStage which);
    /// Records why the run does not calibrate; the first reason counts.
    void fail(OffAxisFailure failure, std::string why);
    /// Checks the current samples of measurement `which`; false (with the reason
    /// recorded and printed) when they cannot calibrate.
    bool shaftTurns(int which);
    /// Ends the run: says whether it calibrated and, if not, why and what the
    /// chip holds.
    OffAxisCalibrationResult finish();
    /// Writes a register and pauses; false (nothing written) when cancelled.
    bool write(uint8_t reg, uint8_t value, Duration pause);
    /// Fills measured_ and expected_ with one measurement; false when it was
    /// cancelled or the reads stopped succeeding.
    bool measure(int which);
    /// Computes, prints and records the error of the current samples.
    ErrorMetric report(int which, const char* label, bool from_first_sample);
    bool writeCompensation(const Harmonics& c);

    SensorLink& link_;
    const double speed_;
    const OffAxisCalibrationOptions& options_;
    ProcedureClock& clock_;
    std::ostream& out_;
    OffAxisCalibrationResult result_;
    OffAxisStage stage_ = OffAxisStage::Reset;
    bool stores_ = false;          // an MA600: only what it stored outlives a power cycle
    bool reset_complete_ = false;  // every register of the reset written
    std::string why_;
    std::vector<double> measured_;
    std::vector<double> expected_;
};

}  // namespace kinetra::calibration
