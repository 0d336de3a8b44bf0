#pragma once
// The numbers of the off-axis calibration, free of I/O: the error metric, the
// bias current table, the harmonic fit, the compensation table and its bytes,
// and the unwrapping of angles read within one revolution.

#include <array>
#include <cstdint>
#include <vector>

namespace kinetra::calibration {

/// Degrees to radians as the chip's calibration has always computed it
/// (3.14 / 180); the written table depends on it, so it stays.
constexpr double kDegreesToRadians = 0.017444444444444446;
/// Samples per measurement.
constexpr unsigned kSamplesPerMeasurement = 500;
/// Compensation table entries, one per grid angle of a revolution.
constexpr unsigned kTableSize = 32;
/// Degrees between two grid angles.
constexpr double kGridStep = 360.0 / kTableSize;
/// Largest compensation the table can hold, in degrees.
constexpr double kMaxCompensation = 11.25;

/// Harmonic coefficients in column order: sin, cos of 1, 2, 4 and 8 times the
/// angle.
using Harmonics = std::array<double, 8>;
using Table = std::array<double, kTableSize>;

/// The error metric of a measurement.
struct ErrorMetric {
    double half_peak_to_peak = 0.0;
    double standard_deviation = 0.0;
    /// measured - expected, with its mean removed.
    std::vector<double> centred;
};

/// Error of `measured` against `expected` (same length, at least one sample).
ErrorMetric errorMetric(const std::vector<double>& measured, const std::vector<double>& expected);

/// Bias current trimming value for a half peak-to-peak error; `exceeded` tells
/// whether the error is beyond the table and the value saturated.
uint8_t biasCurrentTrimming(double half_peak_to_peak, bool* exceeded);

/// Least-squares fit of `error` (centred) over the harmonics of `angles`
/// (degrees, turned into radians by `radians_per_degree`).
Harmonics fitHarmonics(const std::vector<double>& angles, const std::vector<double>& error,
                       double radians_per_degree = kDegreesToRadians);

/// The fitted model at `degrees`.
double harmonicModel(const Harmonics& c, double degrees, double radians_per_degree = kDegreesToRadians);

/// The model averaged over every whole revolution between two multiples of 360
/// that the angles span, indexed by grid angle within the revolution; false
/// (and `table` untouched) when the angles span no whole revolution.
bool averagedModel(const Harmonics& c, const std::vector<double>& angles, Table* table,
                   double radians_per_degree = kDegreesToRadians);

/// The chip's two's complement byte for a compensation of `degrees` (clamped to
/// the table's range; one unit is 360 / 4096 degree).
uint8_t compensationByte(double degrees);

/// Unwraps angles read within one revolution into a continuous run, in place.
void unwrapAngles(std::vector<double>& angles);

}  // namespace kinetra::calibration
