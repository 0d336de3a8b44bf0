#pragma once
// Small numeric helpers the simulated devices share.

#include <cmath>

namespace kinetra::sim {

constexpr double kPi = 3.14159265358979323846;

/// `degrees` brought into [0, 360); a non-finite angle gives 0, so that callers
/// converting the result to a count never convert NaN.
inline double wrap360(double degrees) {
    if (!std::isfinite(degrees)) return 0.0;
    const double wrapped = degrees - 360.0 * std::floor(degrees / 360.0);
    return wrapped >= 360.0 ? 0.0 : wrapped;
}

}  // namespace kinetra::sim
