#include "calibration/offaxis_procedure.h"

#include <algorithm>
#include <chrono>
#include <sstream>
#include <utility>

#include "calibration/offaxis_outcome.h"
#include "devices/protocol/sensor_chip.h"

namespace kinetra::calibration {
namespace {

using namespace protocol::sensor_chip;
using std::chrono::milliseconds;

// The chip needs time after each register write, and longer to store.
constexpr milliseconds kRegisterPause{100};
constexpr milliseconds kStorePause{1000};
constexpr milliseconds kSamplePause{5};

}  // namespace

OffAxisProcedure::OffAxisProcedure(SensorLink& link, float speed, const OffAxisCalibrationOptions& options,
                                   std::ostream& out)
    : link_(link),
      speed_(speed),
      options_(options),
      clock_(options.clock != nullptr ? *options.clock : systemProcedureClock()),
      out_(out) {}

bool OffAxisProcedure::cancelled() {
    if (options_.cancel == nullptr || !options_.cancel->load()) return false;
    if (!result_.cancelled) {
        out_ << "Calibration cancelled." << std::endl;
        fail(OffAxisFailure::Cancelled, "stopped during " + stageText(stage_));
    }
    result_.cancelled = true;
    return true;
}

void OffAxisProcedure::stage(OffAxisStage which) {
    stage_ = which;
    if (options_.progress) options_.progress(which, 0);
}

void OffAxisProcedure::fail(OffAxisFailure failure, std::string why) {
    if (result_.failure != OffAxisFailure::None) return;
    result_.failure = failure;
    why_ = std::move(why);
}

bool OffAxisProcedure::write(uint8_t reg, uint8_t value, Duration pause) {
    if (cancelled()) return false;
    link_.writeRegister(reg, value);
    // The reset's first write is the first change to the chip.
    if (result_.chip == OffAxisChipState::Unchanged) result_.chip = OffAxisChipState::Cleared;
    clock_.sleepFor(pause);
    return true;
}

bool OffAxisProcedure::shaftTurns(int which) {
    const ShaftCheck check = checkShaft(measured_, expected_);
    if (check.failure == OffAxisFailure::None) return true;
    fail(check.failure, shaftProblem(check, which, speed_));
    out_ << "Calibration stopped: " << why_ << "." << std::endl;
    return false;
}

OffAxisCalibrationResult OffAxisProcedure::finish() {
    result_.calibrated = result_.completed && result_.failure == OffAxisFailure::None;
    if (!result_.calibrated) result_.reason = why_ + "; " + chipText(result_, stores_, reset_complete_);
    stage(OffAxisStage::Done);
    return result_;
}

bool OffAxisProcedure::measure(int which) {
    const auto stage_id = which == 1   ? OffAxisStage::Measurement1
                          : which == 2 ? OffAxisStage::Measurement2
                                       : OffAxisStage::Measurement3;
    stage(stage_id);
    measured_.assign(kSamplesPerMeasurement, 0.0);
    expected_.assign(kSamplesPerMeasurement, 0.0);
    auto last_success = clock_.now();
    unsigned n = 0;
    while (n < kSamplesPerMeasurement) {
        if (cancelled()) return false;
        double angle = 0.0;
        const ret_status_t status = link_.readAngle(&angle);
        const auto returned = clock_.now();
        if (status == RET_OK) {
            const double seconds =
                static_cast<double>(
                    std::chrono::duration_cast<std::chrono::nanoseconds>(returned.time_since_epoch()).count()) /
                1e9;
            measured_[n] = angle;
            expected_[n] = seconds * speed_;
            if (n > 0) expected_[n] -= expected_[0];
            ++n;
            last_success = returned;
            if (options_.progress) options_.progress(stage_id, n);
        } else if (returned - last_success >= options_.read_timeout) {
            // Counting time, not failed reads: a timed-out read and an absent
            // node fail at very different rates.
            const double seconds_without = std::chrono::duration<double>(options_.read_timeout).count();
            out_ << "No angle reading for " << seconds_without << " s: the encoder does not answer. Calibration stopped."
                 << std::endl;
            std::ostringstream why;
            why << "no angle read succeeded for " << seconds_without << " s in measurement " << which
                << ": the encoder does not answer";
            fail(OffAxisFailure::ReadTimedOut, why.str());
            result_.read_timed_out = true;
            return false;
        }
        if (which == 1) {
            clock_.sleepFor(kSamplePause);
        } else {
            const auto remaining = returned + kSamplePause - clock_.now();
            if (remaining > Duration::zero()) clock_.sleepFor(remaining);
        }
    }
    expected_[0] = 0.0;
    if (link_.readsWithinOneTurn()) unwrapAngles(measured_);
    return true;
}

ErrorMetric OffAxisProcedure::report(int which, const char* label, bool from_first_sample) {
    if (from_first_sample) {
        const double first = measured_.front();
        for (double& p : measured_) p -= first;
    }
    ErrorMetric metric = errorMetric(measured_, expected_);
    out_ << label << metric.half_peak_to_peak << " SD:" << metric.standard_deviation << std::endl;
    auto& error = result_.errors[static_cast<std::size_t>(which - 1)];
    error.half_peak_to_peak = metric.half_peak_to_peak;
    error.standard_deviation = metric.standard_deviation;
    result_.measurements = which;
    if (options_.samples) options_.samples(OffAxisSamples{which, measured_, expected_});
    return metric;
}

bool OffAxisProcedure::writeCompensation(const Harmonics& c) {
    Table average{};
    if (!averagedModel(c, measured_, &average)) {
        out_ << "The shaft did not turn a whole revolution between two multiples "
                "of 360 degrees;"
                " turn it further. No compensation table written."
             << std::endl;
        fail(OffAxisFailure::NoWholeTurn,
             "measurement 2 spans no whole turn between two multiples of 360 degrees, so no compensation table was "
             "written, measured or stored: turn the shaft further (a higher speed)");
        return false;
    }
    result_.table_computed = true;
    for (std::size_t k = 0; k < kTableSize; ++k) {
        result_.compensation[k] = -average[k];
        result_.compensation_bytes[k] = compensationByte(result_.compensation[k]);
    }
    for (std::size_t k = 0; k < kTableSize; ++k) {
        if (!write(static_cast<uint8_t>(kMAxxxRegFirstHarmonic + k), result_.compensation_bytes[k], kRegisterPause)) {
            return false;
        }
        result_.chip = OffAxisChipState::Compensated;
        ++result_.table_entries_written;
    }
    result_.table_written = true;
    return true;
}

OffAxisCalibrationResult OffAxisProcedure::run() {
    const uint8_t type = link_.encoderType();
    if (type != kEncoderTypeMA7xx && type != kEncoderTypeMA600) {
        out_ << "Incompatible encoder has been configured. Please use either "
                "MA702, MA732 or MA600"
             << std::endl;
        fail(OffAxisFailure::Incompatible,
             type == 0 ? std::string("the encoder's type could not be read, or is 0")
                       : "the encoder is of type " + std::to_string(type) + ", not an MA702, MA732 or MA600");
        return finish();
    }
    result_.compatible = true;
    stores_ = type == kEncoderTypeMA600;

    stage(OffAxisStage::Reset);
    if (!write(kMAxxxRegBiasCurrentTrimming, 0, kRegisterPause)) return finish();
    for (unsigned reg = kMAxxxRegFirstHarmonic; reg <= kMAxxxRegLastHarmonic; ++reg) {
        if (!write(static_cast<uint8_t>(reg), 0, kRegisterPause)) return finish();
    }
    if (!write(kMAxxxRegTrimmingSettings, 1, kRegisterPause)) return finish();
    reset_complete_ = true;

    // Samples that cannot calibrate stop the run before they decide a write.
    if (!measure(1)) return finish();
    out_ << "Got sample points" << std::endl;
    const ErrorMetric first = report(1, "Current error is:", true);
    if (!shaftTurns(1)) return finish();

    stage(OffAxisStage::BiasCurrent);
    result_.bias_current = biasCurrentTrimming(first.half_peak_to_peak, &result_.bias_limit_exceeded);
    if (result_.bias_limit_exceeded) out_ << "BCT limit Exceeded" << std::endl;
    if (!write(kMAxxxRegBiasCurrentTrimming, result_.bias_current, kRegisterPause)) return finish();
    result_.chip = OffAxisChipState::BiasCurrent;

    if (!measure(2)) return finish();
    const ErrorMetric second = report(2, "Current error after BCT optimisation is:", false);
    if (!shaftTurns(2)) return finish();

    if (type == kEncoderTypeMA600) {
        stage(OffAxisStage::Compensation);
        const Harmonics c = fitHarmonics(measured_, second.centred);
        if (!writeCompensation(c)) {
            if (result_.cancelled) return finish();
        } else {
            if (!measure(3)) return finish();
            report(3, "Current error after BCT optimisation and Harmonic Compensation is:", true);
            // Nothing is stored that a measurement has not confirmed.
            if (!shaftTurns(3)) return finish();

            stage(OffAxisStage::Store);
            out_ << "Saving configuration to MA600 IC." << std::endl;
            if (!write(kMAxxxRegStore, 0, kStorePause)) return finish();
            if (!write(kMAxxxRegStore, 1, kRegisterPause)) return finish();
            result_.stored = true;
            result_.chip = OffAxisChipState::Stored;
        }
    }
    out_ << "Done." << std::endl;
    result_.completed = true;
    return finish();
}

}  // namespace kinetra::calibration
