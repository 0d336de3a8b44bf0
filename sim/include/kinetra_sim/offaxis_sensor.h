#pragma once
/// @file offaxis_sensor.h
/// The angle error of a magnetic sensor chip whose magnet sits off the rotation
/// axis: a sum of harmonics of the shaft angle whose size falls with the bias
/// current trimming (register 2), to which the chip adds its own compensation
/// table (registers 32-63), looked up at the angle it measures.

#include <cstdint>

#include "kinetra_sim/encoder_model.h"

namespace kinetra::sim {

/// The error in degrees before compensation, at a mechanical angle in degrees,
/// with bias current trimming `bias_current`.
double offAxisRawError(double mechanical_degrees, uint8_t bias_current);

/// The chip's compensation in degrees at a measured angle: the table's two's
/// complement bytes in units of 360/4096 degree, one per 11.25 degrees,
/// interpolated linearly between its entries (the last runs on to the first).
double offAxisCompensation(double measured_degrees, const SensorRegisters& registers);

/// What the chip reports minus the mechanical angle, in degrees: the raw error
/// plus the compensation at the angle the chip measures. Fits
/// EncoderModel::AngleError.
double offAxisError(double mechanical_degrees, const SensorRegisters& registers);

}  // namespace kinetra::sim
