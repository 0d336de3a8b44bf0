// Configuration export and import against the simulated driver through the real
// stack. An export is 19 query exchanges plus building the text: it is measured
// next to 19 plain query round trips in the same run, so the ratio shows what the
// document costs. An import is dominated by its 50 ms pauses: it is measured next
// to the sum of the pauses it took.

#include "kinetra_sim/simulator.h"

#include <kinetra/driver.h>
#include <kinetra/procedure_clock.h>
#include <kinetra/usb_interface.h>

#include "config/config_import.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using kinetra::sim::NodeKind;
using kinetra::sim::Simulator;

constexpr unsigned kNode = 1;
constexpr int kExchangesPerExport = 19;

/// One simulator, bus and proxy for every benchmark of the run.
struct Bench {
    Bench() : sim({{NodeKind::Driver, kNode}}) {
        sim.start();
        sim.registerAsAdapter();
        ready = bus.initInterface(sim.portName());
        const auto deadline = Clock::now() + std::chrono::seconds(3);
        while (ready && !(bus.isRunning() && bus.isDeviceConnected(kNode)) && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ready = ready && bus.isRunning() && bus.isDeviceConnected(kNode);
        driver = std::make_unique<Driver>(kNode, &bus);
    }
    ~Bench() {
        driver.reset();
        bus.closeInterface();
        sim.stop();
    }
    Simulator sim;
    USBInterface bus;
    std::unique_ptr<Driver> driver;
    bool ready = false;
};

Bench& bench() {
    static Bench instance;
    return instance;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double export_median_ms = 0;
double queries_median_ms = 0;
double import_ms = 0;
double import_pauses_ms = 0;

/// Times `work` per iteration; false from `work` ends the run with an error.
double timed(benchmark::State& state, const std::function<bool()>& work) {
    if (!bench().ready) {
        state.SkipWithError("the simulated driver did not appear");
        return 0.0;
    }
    std::vector<double> took_ms;
    for (auto _ : state) {
        const auto start = Clock::now();
        const bool ok = work();
        const std::chrono::duration<double> took = Clock::now() - start;
        if (!ok) {
            state.SkipWithError("a query failed");
            break;
        }
        state.SetIterationTime(took.count());
        took_ms.push_back(took.count() * 1e3);
    }
    const double result = median(took_ms);
    state.counters["median_ms"] = result;
    return result;
}

void BM_ExportConfiguration(benchmark::State& state) {
    export_median_ms = timed(state, [] { return !bench().driver->exportConfiguration().empty(); });
}
BENCHMARK(BM_ExportConfiguration)->UseManualTime()->Iterations(200)->Unit(benchmark::kMillisecond);

void BM_NineteenQueryRoundTrips(benchmark::State& state) {
    queries_median_ms = timed(state, [] {
        float gain = 0.0f;
        for (int i = 0; i < kExchangesPerExport; ++i) {
            if (bench().driver->getPositionControllerGain(&gain) != RET_OK) return false;
        }
        return true;
    });
}
BENCHMARK(BM_NineteenQueryRoundTrips)->UseManualTime()->Iterations(200)->Unit(benchmark::kMillisecond);

/// The system clock, adding up the pauses taken.
class PauseCounter : public kinetra::ProcedureClock {
public:
    clock::time_point now() override { return kinetra::systemProcedureClock().now(); }
    void sleepFor(clock::duration duration) override {
        paused += duration;
        kinetra::systemProcedureClock().sleepFor(duration);
    }
    clock::duration paused{};
};

void BM_ImportConfiguration(benchmark::State& state) {
    const std::string document = bench().ready ? bench().driver->exportConfiguration() : std::string();
    PauseCounter clock;
    int imports = 0;
    import_ms = timed(state, [&] {
        std::ostringstream printed;
        ++imports;
        return kinetra::config::importDriverConfiguration(*bench().driver, document, printed, clock) == 1;
    });
    if (imports > 0) import_pauses_ms = std::chrono::duration<double, std::milli>(clock.paused).count() / imports;
    state.counters["pauses_ms"] = import_pauses_ms;
}
BENCHMARK(BM_ImportConfiguration)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (export_median_ms > 0 && queries_median_ms > 0) {
        std::printf("\nexport, median: %.2f ms; 19 query round trips: %.2f ms; ratio %.2f\n", export_median_ms,
                    queries_median_ms, export_median_ms / queries_median_ms);
    }
    if (import_ms > 0) {
        std::printf("import, median: %.1f ms; its pauses: %.1f ms; the rest %.1f ms\n", import_ms, import_pauses_ms,
                    import_ms - import_pauses_ms);
    }
    return 0;
}
