// One off-axis calibration run in real time through the whole stack (proxy,
// adapter transport, pseudo-terminal, simulated chip), for the encoder and for a
// driver's MA600 motor encoder, next to its floor: three measurements of 500
// samples 5 ms apart and the pauses after 68 register writes and the store.
//
// Also the residual error the run's table leaves in the simulated chip, as the
// library computes the table (degrees to radians as 3.14 / 180) and as it would
// with pi / 180, both fitted to the same measured samples.

#include "kinetra_sim/driver_node.h"
#include "kinetra_sim/encoder_node.h"
#include "kinetra_sim/offaxis_sensor.h"
#include "kinetra_sim/simulator.h"

#include <kinetra/driver.h>
#include <kinetra/usb_interface.h>
#include <kinetra/vorlex.h>

#include "calibration/offaxis_math.h"
#include "devices/protocol/motor_controller_protocol.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iostream>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;
using kinetra::sim::NodeKind;
namespace calibration = kinetra::calibration;

constexpr unsigned kDriverNode = 1;
constexpr unsigned kEncoderNode = 4;
constexpr float kDegreesPerSecond = 360.0f;
// 3 x 500 samples 5 ms apart, 68 register writes at 100 ms and the 1 s store.
constexpr double kFloorSeconds = 3 * 2.5 + 68 * 0.1 + 1.0;

/// Half the peak-to-peak error over a revolution of a chip holding `bytes` in
/// its table, with bias current trimming `bias`.
double residualInChip(const std::array<uint8_t, calibration::kTableSize>& bytes, uint8_t bias) {
    kinetra::sim::SensorRegisters registers;
    registers.write(kinetra::protocol::motor::kMAxxxRegBiasCurrentTrimming, bias);
    for (std::size_t k = 0; k < bytes.size(); ++k) {
        registers.write(static_cast<uint8_t>(kinetra::protocol::motor::kMAxxxRegFirstHarmonic + k), bytes[k]);
    }
    double lo = INFINITY;
    double hi = -INFINITY;
    for (double angle = 0.0; angle < 360.0; angle += 0.1) {
        const double error = kinetra::sim::offAxisError(angle, registers);
        lo = std::min(lo, error);
        hi = std::max(hi, error);
    }
    return (hi - lo) / 2.0;
}

/// The table bytes the run would write for `samples` with `radians_per_degree`.
std::array<uint8_t, calibration::kTableSize> tableFor(const kinetra::OffAxisSamples& samples,
                                                      double radians_per_degree) {
    const calibration::ErrorMetric metric = calibration::errorMetric(samples.measured, samples.expected);
    const calibration::Harmonics c =
        calibration::fitHarmonics(samples.measured, metric.centred, radians_per_degree);
    calibration::Table average{};
    std::array<uint8_t, calibration::kTableSize> bytes{};
    if (!calibration::averagedModel(c, samples.measured, &average, radians_per_degree)) return bytes;
    for (std::size_t k = 0; k < bytes.size(); ++k) bytes[k] = calibration::compensationByte(-average[k]);
    return bytes;
}

void BM_OffAxisCalibrationRun(benchmark::State& state) {
    const bool driver_chip = state.range(0) != 0;
    kinetra::sim::Simulator sim({{NodeKind::Driver, kDriverNode}, {NodeKind::Encoder, kEncoderNode}});
    sim.start();
    sim.registerAsAdapter();
    USBInterface iface;
    if (!iface.initInterface(sim.portName())) {
        state.SkipWithError("the simulator's port did not open");
        return;
    }
    const auto ready = std::chrono::steady_clock::now() + 3s;
    while (!(iface.isRunning() && iface.isDeviceConnected(kDriverNode) && iface.isDeviceConnected(kEncoderNode)) &&
           std::chrono::steady_clock::now() < ready) {
        std::this_thread::sleep_for(10ms);
    }
    Driver driver(kDriverNode, &iface);
    Vorlex encoder(kEncoderNode, &iface);
    if (driver_chip) {
        driver.configureMotorEncoder(kinetra::protocol::motor::kEncoderTypeMA600, 16384, false);
        driver.setDeviceToActive();
        driver.setVelocityControl(kDegreesPerSecond / 360.0f);
        std::this_thread::sleep_for(300ms);
    } else {
        sim.nodeAs<kinetra::sim::EncoderNode>(kEncoderNode).setShaftRate(kDegreesPerSecond);
    }

    kinetra::OffAxisSamples second;
    kinetra::OffAxisCalibrationOptions options;
    options.samples = [&](const kinetra::OffAxisSamples& samples) {
        if (samples.measurement == 2) second = samples;
    };
    kinetra::OffAxisCalibrationResult result;
    double seconds = 0.0;
    for (auto _ : state) {
        // The run's printed lines are its own; the benchmark's table stays readable.
        std::ostringstream printed;
        auto* const previous = std::cout.rdbuf(printed.rdbuf());
        const auto start = std::chrono::steady_clock::now();
        result = driver_chip ? driver.runMAxxxOffAxisCalibration(false, kDegreesPerSecond, options)
                             : encoder.runMAxxxOffAxisCalibration(kDegreesPerSecond, options);
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::cout.rdbuf(previous);
        state.SetIterationTime(seconds);
    }
    if (driver_chip) driver.setDeviceToIdle();
    iface.closeInterface();
    sim.stop();
    if (!result.completed) {
        state.SkipWithError("the calibration did not complete");
        return;
    }
    state.counters["floor_s"] = kFloorSeconds;
    state.counters["ratio"] = seconds / kFloorSeconds;
    state.counters["error_before"] = result.errors[0].half_peak_to_peak;
    state.counters["error_after"] = result.errors[2].half_peak_to_peak;
    state.counters["residual_3.14"] = residualInChip(tableFor(second, calibration::kDegreesToRadians), result.bias_current);
    state.counters["residual_pi"] = residualInChip(tableFor(second, M_PI / 180.0), result.bias_current);
}
BENCHMARK(BM_OffAxisCalibrationRun)->ArgName("driver_ma600")->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(
    benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
