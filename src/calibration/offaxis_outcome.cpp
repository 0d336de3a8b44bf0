#include "calibration/offaxis_outcome.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "calibration/offaxis_math.h"

namespace kinetra::calibration {
namespace {

/// Degrees as the messages write them: one decimal.
std::string degrees(double value) {
    std::ostringstream text;
    text.setf(std::ios::fixed);
    text.precision(1);
    text << value;
    return text.str();
}

/// The widest gap between the angles within one turn, around the circle.
double widestGap(const std::vector<double>& angles) {
    std::vector<double> within;
    within.reserve(angles.size());
    for (double a : angles) {
        if (!std::isfinite(a)) return kDegreesPerTurn;
        within.push_back(a - kDegreesPerTurn * std::floor(a / kDegreesPerTurn));
    }
    if (within.empty()) return kDegreesPerTurn;
    std::sort(within.begin(), within.end());
    double widest = within.front() + kDegreesPerTurn - within.back();
    for (std::size_t i = 1; i < within.size(); ++i) widest = std::max(widest, within[i] - within[i - 1]);
    return widest;
}

}  // namespace

ShaftCheck checkShaft(const std::vector<double>& measured, const std::vector<double>& expected) {
    ShaftCheck check;
    const std::size_t n = std::min(measured.size(), expected.size());
    if (n < 2) {
        check.failure = OffAxisFailure::TooSlow;
        return check;
    }
    check.measured_advance = measured[n - 1] - measured[0];
    check.expected_advance = expected[n - 1] - expected[0];
    check.widest_gap = widestGap(measured);
    const double wanted = std::fabs(check.expected_advance);
    // What the speed allows comes first: with it wrong, the shaft cannot help.
    if (!(wanted >= kDegreesPerTurn)) {
        check.failure = OffAxisFailure::TooSlow;
    } else if (!(std::fabs(check.measured_advance) >= kStillAdvance)) {
        check.failure = OffAxisFailure::ShaftStill;
    } else if ((check.measured_advance < 0) != (check.expected_advance < 0)) {
        check.failure = OffAxisFailure::WrongDirection;
    } else if (std::fabs(check.measured_advance - check.expected_advance) > kRateTolerance * wanted) {
        check.failure = OffAxisFailure::WrongRate;
    } else if (!(check.widest_gap <= kMaxSampleGap)) {
        check.failure = OffAxisFailure::TooFast;
    }
    return check;
}

std::string shaftProblem(const ShaftCheck& check, int measurement, double speed) {
    const std::string which = "measurement " + std::to_string(measurement);
    const std::string given = degrees(speed) + " deg/s";
    const std::string read = degrees(check.measured_advance) + " degrees";
    const std::string covered = degrees(check.expected_advance);
    switch (check.failure) {
        case OffAxisFailure::TooSlow:
            return "at " + given + " " + which + " covers " + covered +
                   " degrees, less than the whole turn it needs: give a higher speed";
        case OffAxisFailure::TooFast:
            return "at " + given + " the samples of " + which + " leave a gap of " + degrees(check.widest_gap) +
                   " degrees in the turn, more than the " + degrees(kMaxSampleGap) +
                   " that resolve the error: give a lower speed";
        case OffAxisFailure::ShaftStill:
            return "the measured angle did not advance in " + which + " (" + read + " where " + given + " covers " +
                   covered + "): the shaft does not turn";
        case OffAxisFailure::WrongDirection:
            return "the shaft turned " + read + " in " + which + ", against the sign of the speed (" + given +
                   " covers " + covered + ")";
        case OffAxisFailure::WrongRate:
            return "the shaft turned " + read + " in " + which + " where " + given + " covers " + covered +
                   ": it does not turn at the given speed";
        default:
            return std::string();
    }
}

std::string stageText(OffAxisStage stage) {
    switch (stage) {
        case OffAxisStage::Reset: return "the reset";
        case OffAxisStage::Measurement1: return "measurement 1";
        case OffAxisStage::BiasCurrent: return "the bias current trimming";
        case OffAxisStage::Measurement2: return "measurement 2";
        case OffAxisStage::Compensation: return "the compensation table";
        case OffAxisStage::Measurement3: return "measurement 3";
        case OffAxisStage::Store: return "the store";
        case OffAxisStage::Done: break;
    }
    return "the end";
}

std::string chipText(const OffAxisCalibrationResult& result, bool stores, bool reset_complete) {
    const std::string not_stored =
        stores ? ", not stored: a power cycle brings back what the chip stored before" : ", not stored";
    const std::string bias = "the new bias current trimming " + std::to_string(result.bias_current);
    const int entries = result.table_entries_written;
    switch (result.chip) {
        case OffAxisChipState::Unchanged: return "the chip is unchanged";
        case OffAxisChipState::Cleared:
            return std::string("the chip's bias current trimming and compensation table are ") +
                   (reset_complete ? "cleared" : "partly cleared") + not_stored;
        case OffAxisChipState::BiasCurrent:
            return "the chip holds " + bias + " and a cleared compensation table" + not_stored;
        case OffAxisChipState::Compensated:
            return "the chip holds " + bias +
                   (entries < static_cast<int>(kTableSize)
                        ? " and " + std::to_string(entries) + " of the " + std::to_string(kTableSize) +
                              " new compensation table entries, the others cleared"
                        : " and the new compensation table") +
                   not_stored;
        case OffAxisChipState::Stored: return "the chip stored " + bias + " and the new compensation table";
    }
    return std::string();
}

}  // namespace kinetra::calibration
