// A motor driver used through the full stack (Driver proxy -> USBInterface ->
// serial layer -> pty -> simulated adapter and driver, and back): how many
// position reads a second it sustains with their median and 99th-percentile
// latency, and the rate of a control loop that sends one set point and reads two
// telemetry values per cycle, as an application's servo loop would.

#include "kinetra_sim/simulator.h"

#include <kinetra/driver.h>
#include <kinetra/usb_interface.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using kinetra::sim::NodeKind;
using kinetra::sim::Simulator;

constexpr unsigned kNode = 1;
constexpr int kQueries = 3000;
constexpr int kLoops = 1000;

/// The simulator and an open bus with the driver present and active, shared by
/// the benchmarks.
struct Rig {
    Simulator sim{{{NodeKind::Driver, kNode}}};
    USBInterface bus;
    bool ready = false;

    Rig() {
        sim.start();
        sim.registerAsAdapter();
        if (!bus.initInterface(sim.portName())) return;
        const auto deadline = Clock::now() + std::chrono::seconds(3);
        // Running turns true with the interface's first heartbeat, which may come
        // after the node's first one.
        while (!(bus.isRunning() && bus.isDeviceConnected(kNode)) && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ready = bus.isRunning() && bus.isDeviceConnected(kNode);
    }
    ~Rig() {
        bus.closeInterface();
        sim.stop();
    }
};

Rig& rig() {
    static Rig instance;
    return instance;
}

/// Publishes median and 99th percentile (µs) and the rate of `latencies_us`.
void report(benchmark::State& state, std::vector<double>& latencies_us, const char* rate_name) {
    if (latencies_us.empty()) return;
    std::sort(latencies_us.begin(), latencies_us.end());
    state.counters["median_us"] = latencies_us[latencies_us.size() / 2];
    state.counters["p99_us"] = latencies_us[std::min(latencies_us.size() - 1, latencies_us.size() * 99 / 100)];
    state.counters[rate_name] = benchmark::Counter(double(latencies_us.size()), benchmark::Counter::kIsRate);
}

void BM_GetMotorPosition(benchmark::State& state) {
    Rig& r = rig();
    if (!r.ready) {
        state.SkipWithError("the simulated driver did not appear");
        return;
    }
    Driver driver(kNode, &r.bus);
    driver.setDeviceToActive();
    driver.setVelocityControl(2.0f);  // a moving motor, so the reads are not of a constant
    std::vector<double> latencies;
    latencies.reserve(kQueries);
    for (auto _ : state) {
        float position = 0.0f;
        const auto start = Clock::now();
        const ret_status_t status = driver.getMotorPosition(&position);
        const std::chrono::duration<double> took = Clock::now() - start;
        if (status != RET_OK) {
            state.SkipWithError(("read failed with status " + std::to_string(status)).c_str());
            break;
        }
        benchmark::DoNotOptimize(position);
        state.SetIterationTime(took.count());
        latencies.push_back(took.count() * 1e6);
    }
    driver.setDeviceToIdle();
    report(state, latencies, "queries_per_s");
}
BENCHMARK(BM_GetMotorPosition)->UseManualTime()->Iterations(kQueries)->Unit(benchmark::kMicrosecond);

void BM_ControlLoop(benchmark::State& state) {
    Rig& r = rig();
    if (!r.ready) {
        state.SkipWithError("the simulated driver did not appear");
        return;
    }
    Driver driver(kNode, &r.bus);
    driver.setDeviceToActive();
    std::vector<double> latencies;
    latencies.reserve(kLoops);
    int cycle = 0;
    for (auto _ : state) {
        const float target = static_cast<float>(std::sin(0.01 * cycle++));
        float position = 0.0f;
        float velocity = 0.0f;
        const auto start = Clock::now();
        const bool ok = driver.setPositionControl(target, 0.0f) == RET_OK &&
                        driver.getMotorPosition(&position) == RET_OK && driver.getMotorVelocity(&velocity) == RET_OK;
        const std::chrono::duration<double> took = Clock::now() - start;
        if (!ok) {
            state.SkipWithError("a loop step failed");
            break;
        }
        benchmark::DoNotOptimize(position);
        benchmark::DoNotOptimize(velocity);
        state.SetIterationTime(took.count());
        latencies.push_back(took.count() * 1e6);
    }
    driver.setDeviceToIdle();
    report(state, latencies, "loops_per_s");
}
BENCHMARK(BM_ControlLoop)->UseManualTime()->Iterations(kLoops)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
