#pragma once
/// @file imu_fixed_point.h
/// How the simulated IMU puts a reading on the wire: as a count of the scale of
/// the query that asks for it.

#include <cstdint>

namespace kinetra::sim {

/// The 16-bit count the unit sends for `value` in the scale of `command`: the
/// nearest count, half-way values away from zero, saturated to the 16-bit range
/// (a value that is not a number gives the lowest count).
int16_t imuFixedPoint(double value, uint8_t command);

}  // namespace kinetra::sim
