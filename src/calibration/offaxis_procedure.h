#pragma once
// One off-axis calibration run: encoder check, reset, three measurements, the
// bias current, and on the MA600 the harmonic compensation table and its store.
// Everything it does to the chip goes through a SensorLink, and all time
// through a ProcedureClock, so a test feeds it samples and skips its pauses.

#include <kinetra/offaxis_calibration.h>

#include <ostream>
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
    std::vector<double> measured_;
    std::vector<double> expected_;
};

}  // namespace kinetra::calibration
