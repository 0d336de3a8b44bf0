#pragma once
// Small numeric helpers the simulated devices share.

#include <cmath>

namespace kinetra::sim {

constexpr double kPi = 3.14159265358979323846;

/// `degrees` brought into [0, 360).
inline double wrap360(double degrees) {
    const double wrapped = degrees - 360.0 * std::floor(degrees / 360.0);
    return wrapped >= 360.0 ? 0.0 : wrapped;
}

}  // namespace kinetra::sim
