#include "kinetra_sim/offaxis_sensor.h"

#include "sim_math.h"

#include <cmath>

#include "devices/protocol/sensor_chip.h"

namespace kinetra::sim {
namespace {

struct Harmonic {
    int order;
    double amplitude;  // degrees at no bias current trimming
    double phase;      // degrees
};

// A magnet off its axis mostly errs once per turn; the chip's field
// nonlinearities add the higher orders. The higher orders are large enough
// that a table off by one entry or with sine and cosine swapped does visibly
// worse than none, and the whole stays inside the table's +-11.25 degrees.
constexpr Harmonic kHarmonics[] = {{1, 9.5, 20.0}, {2, 3.5, 110.0}, {4, 2.8, 230.0}, {8, 1.4, 320.0}};
// Bias current trimming strengthens the measured field: at this value the
// error is half as large.
constexpr double kHalvingBiasCurrent = 200.0;
constexpr int kTableSize = protocol::sensor_chip::kMAxxxRegLastHarmonic - protocol::sensor_chip::kMAxxxRegFirstHarmonic + 1;
constexpr double kTableStep = 360.0 / kTableSize;
constexpr double kDegreesPerUnit = 360.0 / 4096.0;

double entry(const SensorRegisters& registers, int k) {
    const auto byte = registers.read(static_cast<uint8_t>(protocol::sensor_chip::kMAxxxRegFirstHarmonic + k % kTableSize));
    return static_cast<double>(static_cast<int8_t>(byte)) * kDegreesPerUnit;
}

}  // namespace

double offAxisRawError(double mechanical_degrees, uint8_t bias_current) {
    const double scale = 1.0 / (1.0 + bias_current / kHalvingBiasCurrent);
    double error = 0.0;
    for (const Harmonic& h : kHarmonics) {
        // Measured from the chip's zero, which sits at the mechanical zero.
        error += h.amplitude *
                 (std::sin((h.order * mechanical_degrees + h.phase) * kPi / 180.0) - std::sin(h.phase * kPi / 180.0));
    }
    return scale * error;
}

double offAxisCompensation(double measured_degrees, const SensorRegisters& registers) {
    const double position = wrap360(measured_degrees) / kTableStep;
    const int k = static_cast<int>(std::floor(position)) % kTableSize;
    const double fraction = position - std::floor(position);
    return (1.0 - fraction) * entry(registers, k) + fraction * entry(registers, k + 1);
}

double offAxisError(double mechanical_degrees, const SensorRegisters& registers) {
    const double raw =
        offAxisRawError(mechanical_degrees, registers.read(protocol::sensor_chip::kMAxxxRegBiasCurrentTrimming));
    return raw + offAxisCompensation(mechanical_degrees + raw, registers);
}

}  // namespace kinetra::sim
