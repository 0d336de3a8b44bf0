// A control loop over six simulated drivers, one position read each per cycle:
// read one after the other with the blocking getter, and overlapped with a
// ControlCycle. With the simulator's timing model (the bus at the rate the
// adapter runs at, 500 kbit/s; 1 ms adapter latency each way; serial line
// unlimited or at 115200 baud) each figure stands next to the floor the model
// allows (cycle_floor.h), taken from the simulator's own settings; without the
// model, the pty alone. Also counted:
// the library's CPU time per cycle (the process's, less the simulator's
// threads) and the heap allocations per cycle on the library's threads.

#include "kinetra_sim/bus_timing.h"
#include "kinetra_sim/cycle_floor.h"
#include "kinetra_sim/simulator.h"

#include <kinetra/control_cycle.h>
#include <kinetra/driver.h>
#include <kinetra/usb_interface.h>

#include "can/bus.h"
#include "devices/protocol/motor_controller_protocol.h"

#include <benchmark/benchmark.h>

#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

// ---- Counting allocator: allocations on threads other than the simulator's.

namespace {
std::atomic<bool> g_counting{false};
std::atomic<uint64_t> g_allocations{0};

bool onSimulatorThread() {
    thread_local int simulator = -1;
    if (simulator < 0) {
        char name[16] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        simulator = std::strncmp(name, "sim-", 4) == 0 ? 1 : 0;
    }
    return simulator == 1;
}

void* allocate(std::size_t size) {
    if (g_counting.load(std::memory_order_relaxed) && !onSimulatorThread()) {
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

using Clock = std::chrono::steady_clock;
using kinetra::sim::NodeKind;
using kinetra::sim::Simulator;
using kinetra::sim::TimingSetup;

constexpr unsigned kDrivers = 6;

enum Mode { kPtyOnly = 0, kModelUnlimited = 1, kModel115200 = 2 };

TimingSetup timingFor(int mode) {
    TimingSetup timing;
    timing.enabled = mode != kPtyOnly;
    timing.serial_baud = mode == kModel115200 ? 115200 : 0;
    return timing;
}

const char* modeName(int mode) {
    switch (mode) {
        case kPtyOnly: return "pty only, no timing model";
        case kModelUnlimited: return "model, serial unlimited";
        default: return "model, serial 115200 baud";
    }
}

std::chrono::nanoseconds processCpuTime() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

/// Six drivers behind a simulated adapter, and the library on its port.
struct Bench {
    explicit Bench(int mode) : setup(options(mode)), sim(nodes(), setup) {
        sim.start();
        sim.registerAsAdapter();
        if (!bus.initInterface(sim.portName())) return;
        const auto deadline = Clock::now() + std::chrono::seconds(3);
        for (unsigned node = 1; node <= kDrivers; ++node) {
            while (!bus.isDeviceConnected(node) && Clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            drivers.push_back(std::make_unique<Driver>(node, &bus));
        }
        ready = bus.getConnectedDevices().size() == kDrivers;
    }
    ~Bench() { bus.closeInterface(); }

    static std::vector<kinetra::sim::NodeSetup> nodes() {
        std::vector<kinetra::sim::NodeSetup> setups;
        for (unsigned node = 1; node <= kDrivers; ++node) setups.push_back({NodeKind::Driver, node});
        return setups;
    }
    static kinetra::sim::SimulatorOptions options(int mode) {
        kinetra::sim::SimulatorOptions options;
        options.timing = timingFor(mode);
        return options;
    }
    std::chrono::nanoseconds simulatorCpu() const { return sim.adapterCpuTime() + sim.timingCpuTime(); }

    /// The bus as the model times it, with a position read of each of `drivers`
    /// in one write: at the rate the adapter's channel runs at, with the
    /// latency and serial line the simulator was given.
    kinetra::sim::CycleBus readsOf(unsigned drivers) {
        namespace protocol = kinetra::protocol;
        kinetra::sim::CycleBus timed;
        timed.bits_per_second = kinetra::sim::bitRateOf(sim.adapter().bitRate());
        timed.timing = setup.timing;
        for (unsigned node = 1; node <= drivers; ++node) {
            kinetra::sim::CycleExchange read;
            read.sent.can_id = protocol::hostFrameId(node, protocol::motor::kGetMotorPosition,
                                                     protocol::FrameKind::Remote);
            read.sent.can_dlc = protocol::kQueryDlc;
            can_frame_data reply{};
            reply.can_id = protocol::nodeFrameId(node, protocol::motor::kGetMotorPosition,
                                                 static_cast<uint8_t>(protocol::DeviceType::Driver));
            reply.can_dlc = sizeof reply.data;  // the simulated nodes answer with full frames
            read.reply = reply;
            timed.exchanges.push_back(read);
        }
        return timed;
    }
    /// The model's floor of one cycle, or 0 without the model.
    std::chrono::nanoseconds floorOf(const kinetra::sim::CycleBus& timed) const {
        return setup.timing.enabled ? kinetra::sim::cycleFloor(timed) : std::chrono::nanoseconds(0);
    }

    const kinetra::sim::SimulatorOptions setup;
    Simulator sim;
    USBInterface bus;
    std::vector<std::unique_ptr<Driver>> drivers;
    bool ready = false;
};

struct Measure {
    Bench& bench;
    Clock::time_point start = Clock::now();
    std::chrono::nanoseconds cpu_start = processCpuTime();
    std::chrono::nanoseconds sim_start = bench.simulatorCpu();
    uint64_t allocations_start = 0;

    // Each cycle's time, reserved up front so that recording allocates nothing.
    std::vector<double> cycle_us;
    Clock::time_point cycle_start;

    explicit Measure(Bench& b) : bench(b) {
        cycle_us.reserve(1 << 20);
        allocations_start = g_allocations.load();
        g_counting = true;
    }
    void beginCycle() { cycle_start = Clock::now(); }
    void endCycle() {
        if (cycle_us.size() < cycle_us.capacity()) {
            cycle_us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - cycle_start).count());
        }
    }

    void report(benchmark::State& state, uint64_t cycles, std::chrono::nanoseconds floor_per_cycle,
                uint64_t failures) {
        g_counting = false;
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const auto library_cpu = (processCpuTime() - cpu_start) - (bench.simulatorCpu() - sim_start);
        state.counters["cycles_per_s"] = double(cycles) / seconds;
        // The median cycle: on a shared machine, other processes' bursts stretch
        // the mean; the median shows what the bus and the library allow.
        std::sort(cycle_us.begin(), cycle_us.end());
        const double median_per_s = cycle_us.empty() ? 0.0 : 1e6 / cycle_us[cycle_us.size() / 2];
        state.counters["median_cycles_per_s"] = median_per_s;
        if (floor_per_cycle.count() > 0) {
            const double floor_per_s = 1e9 / double(floor_per_cycle.count());
            state.counters["floor_cycles_per_s"] = floor_per_s;
            state.counters["median_x_floor"] = floor_per_s / median_per_s;
        }
        state.counters["cpu_us_per_cycle"] = std::chrono::duration<double, std::micro>(library_cpu).count() / cycles;
        state.counters["allocs_per_cycle"] = double(g_allocations.load() - allocations_start) / double(cycles);
        state.counters["failed_reads"] = double(failures);
    }
};

void BM_SequentialReads(benchmark::State& state) {
    const int mode = static_cast<int>(state.range(0));
    state.SetLabel(modeName(mode));
    Bench bench(mode);
    if (!bench.ready) return state.SkipWithError("the simulated drivers did not appear");
    float position[kDrivers] = {};
    // Warm-up: the first round trips set up what the library keeps.
    for (unsigned i = 0; i < kDrivers; ++i) bench.drivers[i]->getMotorPosition(&position[i]);
    // Blocking reads take turns: each pays a whole cycle of one read.
    const auto floor = kDrivers * bench.floorOf(bench.readsOf(1));
    uint64_t cycles = 0, failures = 0;
    Measure measure(bench);
    for (auto _ : state) {
        measure.beginCycle();
        for (unsigned i = 0; i < kDrivers; ++i) failures += bench.drivers[i]->getMotorPosition(&position[i]) != RET_OK;
        measure.endCycle();
        ++cycles;
    }
    measure.report(state, cycles, floor, failures);
}
BENCHMARK(BM_SequentialReads)->Arg(kPtyOnly)->Arg(kModelUnlimited)->Arg(kModel115200)->MinTime(2.0)->UseRealTime();

void BM_OverlappedCycle(benchmark::State& state) {
    const int mode = static_cast<int>(state.range(0));
    state.SetLabel(modeName(mode));
    Bench bench(mode);
    if (!bench.ready) return state.SkipWithError("the simulated drivers did not appear");
    float position[kDrivers] = {};
    ControlCycle cycle(&bench.bus);
    for (unsigned i = 0; i < kDrivers; ++i) cycle.add(*bench.drivers[i], MotorReading::MotorPosition, &position[i]);
    cycle.run();
    const auto floor = bench.floorOf(bench.readsOf(kDrivers));
    uint64_t cycles = 0, failures = 0;
    Measure measure(bench);
    for (auto _ : state) {
        measure.beginCycle();
        cycle.run();
        measure.endCycle();
        for (unsigned i = 0; i < kDrivers; ++i) failures += cycle.status(i) != RET_OK;
        ++cycles;
    }
    measure.report(state, cycles, floor, failures);
}
BENCHMARK(BM_OverlappedCycle)->Arg(kPtyOnly)->Arg(kModelUnlimited)->Arg(kModel115200)->MinTime(2.0)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
