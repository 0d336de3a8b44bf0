#include "calibration/offaxis_math.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>

namespace kinetra::calibration {
namespace {

constexpr int kHarmonicOrders[] = {1, 2, 4, 8};

double mean(const std::vector<double>& values) {
    return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

/// Degrees to the 32-bit integer toward zero, as the grid bounds are taken.
int32_t truncated(double value) { return static_cast<int32_t>(value); }

}  // namespace

ErrorMetric errorMetric(const std::vector<double>& measured, const std::vector<double>& expected) {
    ErrorMetric metric;
    const std::size_t n = std::min(measured.size(), expected.size());
    if (n == 0) return metric;
    metric.centred.resize(n);
    for (std::size_t i = 0; i < n; ++i) metric.centred[i] = measured[i] - expected[i];
    const double m = mean(metric.centred);
    for (double& e : metric.centred) e -= m;
    const auto [lo, hi] = std::minmax_element(metric.centred.begin(), metric.centred.end());
    metric.half_peak_to_peak = (*hi - *lo) * 0.5;
    const double centre = mean(metric.centred);
    double squares = 0.0;
    for (double e : metric.centred) squares += (e - centre) * (e - centre);
    metric.standard_deviation = std::sqrt(squares / static_cast<double>(n));
    return metric;
}

uint8_t biasCurrentTrimming(double e, bool* exceeded) {
    struct Row {
        double below;
        uint8_t value;
    };
    static constexpr Row kRows[] = {{11.5, 0},    {19.5, 0x56}, {25.4, 0x81}, {30.0, 0x9B},
                                    {33.7, 0xAC}, {36.9, 0xB8}, {39.5, 0xBD}, {42.0, 0xC9}};
    constexpr uint8_t kSaturated = 0xCF;
    if (exceeded != nullptr) *exceeded = false;
    for (const Row& row : kRows) {
        if (e < row.below) return row.value;
    }
    if (exceeded != nullptr) *exceeded = true;
    return kSaturated;
}

Harmonics fitHarmonics(const std::vector<double>& angles, const std::vector<double>& error,
                       double radians_per_degree) {
    const auto rows = static_cast<Eigen::Index>(std::min(angles.size(), error.size()));
    Eigen::MatrixXd a(rows, 8);
    Eigen::VectorXd b(rows);
    for (Eigen::Index i = 0; i < rows; ++i) {
        const double theta = angles[static_cast<std::size_t>(i)] * radians_per_degree;
        for (int h = 0; h < 4; ++h) {
            a(i, 2 * h) = std::sin(kHarmonicOrders[h] * theta);
            a(i, 2 * h + 1) = std::cos(kHarmonicOrders[h] * theta);
        }
        b(i) = error[static_cast<std::size_t>(i)];
    }
    const Eigen::VectorXd solution = a.colPivHouseholderQr().solve(b);
    Harmonics c{};
    for (int k = 0; k < 8; ++k) c[static_cast<std::size_t>(k)] = std::isfinite(solution(k)) ? solution(k) : 0.0;
    return c;
}

double harmonicModel(const Harmonics& c, double degrees, double radians_per_degree) {
    const double phi = degrees * radians_per_degree;
    double value = 0.0;
    for (int h = 0; h < 4; ++h) {
        value += c[static_cast<std::size_t>(2 * h)] * std::sin(kHarmonicOrders[h] * phi) +
                 c[static_cast<std::size_t>(2 * h + 1)] * std::cos(kHarmonicOrders[h] * phi);
    }
    return value;
}

bool averagedModel(const Harmonics& c, const std::vector<double>& angles, Table* table,
                   double radians_per_degree) {
    if (angles.empty()) return false;
    const auto [lo, hi] = std::minmax_element(angles.begin(), angles.end());
    if (!std::isfinite(*lo) || !std::isfinite(*hi)) return false;
    // Angles beyond the 32-bit range of whole degrees cannot be gridded.
    constexpr double kLimit = 2.0e9;
    if (std::fabs(*lo) > kLimit || std::fabs(*hi) > kLimit) return false;
    const double start = (static_cast<double>(truncated(*lo / 360.0)) + 1.0) * 360.0;
    const double end = static_cast<double>(truncated(*hi / 360.0)) * 360.0;

    // Each revolution of the grid starts where the angle is a multiple of 360.
    std::vector<std::vector<double>> groups;
    std::vector<double> current;
    for (long k = 0;; ++k) {
        const double g = start + static_cast<double>(k) * kGridStep;
        if (!(g < end)) break;
        if (std::fmod(g, 360.0) == 0.0 && !current.empty()) {
            groups.push_back(std::move(current));
            current.clear();
        }
        current.push_back(harmonicModel(c, g, radians_per_degree));
    }
    if (!current.empty()) groups.push_back(std::move(current));
    if (groups.empty() || groups.front().size() < kTableSize) return false;

    for (std::size_t k = 0; k < kTableSize; ++k) {
        double sum = 0.0;
        for (const auto& group : groups) sum += k < group.size() ? group[k] : 0.0;
        (*table)[k] = sum / static_cast<double>(groups.size());
    }
    return true;
}

uint8_t compensationByte(double v) {
    if (!std::isfinite(v)) return 0;
    const double units = v < 0.0 ? std::max(v, -kMaxCompensation) / 360.0 * 128.0 * 32.0 + 256.0
                                 : std::min(v, kMaxCompensation) / 360.0 * 128.0 * 32.0;
    return static_cast<uint8_t>(static_cast<int>(units) & 0xFF);
}

void unwrapAngles(std::vector<double>& angles) {
    if (angles.empty()) return;
    // Each step is taken between the raw readings; the previous entry already
    // holds the unwrapped angle.
    double previous_raw = angles[0];
    for (std::size_t i = 1; i < angles.size(); ++i) {
        const double raw = angles[i];
        angles[i] = angles[i - 1] + std::remainder(raw - previous_raw, 360.0);
        previous_raw = raw;
    }
}

}  // namespace kinetra::calibration
