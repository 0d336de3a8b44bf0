#pragma once
// Whether one measurement's samples can calibrate at all, and the words that
// say why a run did not calibrate and what its chip holds. Pure.

#include <kinetra/offaxis_calibration.h>

#include "calibration/offaxis_math.h"

#include <string>
#include <vector>

namespace kinetra::calibration {

/// Degrees in one turn of the shaft.
constexpr double kDegreesPerTurn = 360.0;
/// The widest gap the samples may leave in the turn (their angles taken within
/// one turn, from all the turns a measurement spans): beyond it they cannot
/// resolve the error's highest fitted harmonic, the eighth, whose 45-degree
/// period needs more than two samples.
constexpr double kMaxSampleGap = kDegreesPerTurn / 8 / 2;
/// A measured advance below this (one table step) is a shaft standing still.
constexpr double kStillAdvance = kGridStep;
/// How far the shaft's advance may stray from what the given speed covers, as
/// a share of it: the error metric takes any difference for angle error.
constexpr double kRateTolerance = 0.5;

/// One measurement's samples weighed against the speed they were taken at.
struct ShaftCheck {
    OffAxisFailure failure = OffAxisFailure::None;
    double measured_advance = 0.0;  ///< degrees read from the first sample to the last
    double expected_advance = 0.0;  ///< degrees the given speed covers in that time
    double widest_gap = 0.0;        ///< degrees of the widest gap the samples leave in the turn
};

/// Checks the samples of one measurement (angles as the metric sees them,
/// unwrapped; expected angles from 0): the given speed must cover a whole turn,
/// the angles read must advance with it, and cover the turn densely enough.
ShaftCheck checkShaft(const std::vector<double>& measured, const std::vector<double>& expected);

/// Why the samples of `measurement` cannot calibrate, taken at `speed`
/// (degrees per second); empty when they can.
std::string shaftProblem(const ShaftCheck& check, int measurement, double speed);

/// The stage a run was in, in words ("measurement 2").
std::string stageText(OffAxisStage stage);

/// What the chip holds after a run with `result`; `stores` tells whether the
/// chip keeps only what it stored across a power cycle (the MA600), and
/// `reset_complete` whether every register of the reset was written.
std::string chipText(const OffAxisCalibrationResult& result, bool stores, bool reset_complete);

}  // namespace kinetra::calibration
