// Control loops over simulated drivers with the simulator's timing model (1 ms
// adapter latency each way, serial line unlimited as on a USB adapter), the
// buses at 500 kbit/s and at 1 Mbit/s:
// - 6 drivers on one bus: position reads one after the other with the blocking
//   getter; a read-only cycle of one and of two reads per motor; a cycle with a
//   position command and two reads (position, velocity) per motor;
// - 3 drivers on one bus and 12 drivers as 1 bus x 12, 2 buses x 6 and 4 buses
//   x 3, each with a command and two reads per motor.
// Each row: cycles per second (and the median cycle's rate), the model's floor
// for that row (cycle_floor.h, from each bus's actual bit rate), the median's
// ratio to it, the library's CPU time per cycle (the process's less the
// simulator's threads) and the heap allocations per cycle on every thread but
// the simulator's.

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
namespace protocol = kinetra::protocol;

/// What each motor does per cycle.
enum class Load { SequentialRead, OneRead, TwoReads, CommandAndTwoReads };

const char* loadName(Load load) {
    switch (load) {
        case Load::SequentialRead: return "sequential position reads";
        case Load::OneRead: return "cycle, 1 read/motor";
        case Load::TwoReads: return "cycle, 2 reads/motor";
        case Load::CommandAndTwoReads: break;
    }
    return "cycle, command + 2 reads/motor";
}

std::chrono::nanoseconds processCpuTime() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

/// `buses` buses of `per_bus` drivers each (nodes 1 to per_bus on every bus),
/// each behind its own simulated adapter at `rate`, and the library on their ports.
struct Bench {
    Bench(unsigned buses, unsigned per_bus, CANBaudRate rate) : sim(setups(buses, per_bus, rate), {}) {
        sim.start();
        sim.registerAsAdapter();
        interfaces.resize(buses);
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        for (unsigned bus = 0; bus < buses; ++bus) {
            interfaces[bus] = std::make_unique<USBInterface>();
            if (!interfaces[bus]->initInterface(sim.portOf(bus))) return;
            for (unsigned node = 1; node <= per_bus; ++node) {
                while (!interfaces[bus]->isDeviceConnected(node) && Clock::now() < deadline) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
                drivers.push_back(std::make_unique<Driver>(node, interfaces[bus].get()));
            }
            if (interfaces[bus]->getConnectedDevices().size() != per_bus) return;
        }
        ready = true;
    }
    ~Bench() {
        for (auto& iface : interfaces) iface->closeInterface();
    }

    static std::vector<kinetra::sim::BusSetup> setups(unsigned buses, unsigned per_bus, CANBaudRate rate) {
        std::vector<kinetra::sim::BusSetup> setups(buses);
        for (kinetra::sim::BusSetup& setup : setups) {
            for (unsigned node = 1; node <= per_bus; ++node) setup.nodes.push_back({NodeKind::Driver, node, rate});
            setup.adapter.bit_rate = rate;
            setup.timing.enabled = true;
        }
        return setups;
    }
    std::chrono::nanoseconds simulatorCpu() const { return sim.adapterCpuTime() + sim.timingCpuTime(); }

    /// Bus `bus` as the model times one cycle of `load` on `motors` of its
    /// drivers: at the rate its adapter runs at, with its latency and serial line.
    kinetra::sim::CycleBus timed(unsigned bus, unsigned motors, Load load) {
        kinetra::sim::CycleBus timed;
        timed.bits_per_second = kinetra::sim::bitRateOf(sim.onBus(bus).host(0).adapter().bitRate());
        timed.timing.serial_baud = 0;
        const auto read = [](unsigned node, uint8_t command) {
            kinetra::sim::CycleExchange exchange;
            exchange.sent.can_id = protocol::hostFrameId(node, command, protocol::FrameKind::Remote);
            exchange.sent.can_dlc = protocol::kQueryDlc;
            can_frame_data reply{};
            reply.can_id = protocol::nodeFrameId(node, command, static_cast<uint8_t>(protocol::DeviceType::Driver));
            reply.can_dlc = sizeof reply.data;  // the simulated nodes answer with full frames
            exchange.reply = reply;
            return exchange;
        };
        if (load == Load::CommandAndTwoReads) {
            for (unsigned node = 1; node <= motors; ++node) {
                kinetra::sim::CycleExchange command;
                const auto& frame = protocol::motor::kPositionControlFrame;
                command.sent.can_id = protocol::hostFrameId(node, frame.id, frame.kind);
                command.sent.can_dlc = frame.dlc;
                timed.exchanges.push_back(command);
            }
        }
        for (unsigned node = 1; node <= motors; ++node) {
            timed.exchanges.push_back(read(node, protocol::motor::kGetMotorPosition));
            if (load == Load::TwoReads || load == Load::CommandAndTwoReads) {
                timed.exchanges.push_back(read(node, protocol::motor::kGetMotorVelocity));
            }
        }
        return timed;
    }
    /// The model's floor of one cycle of `load` over every bus.
    std::chrono::nanoseconds floorOf(Load load, unsigned per_bus) {
        if (load == Load::SequentialRead) {
            // Blocking reads take turns: each pays a whole cycle of one read.
            return static_cast<long>(drivers.size()) * kinetra::sim::cycleFloor(timed(0, 1, Load::OneRead));
        }
        std::vector<kinetra::sim::CycleBus> buses;
        for (unsigned bus = 0; bus < interfaces.size(); ++bus) buses.push_back(timed(bus, per_bus, load));
        return kinetra::sim::cycleFloor(buses);
    }

    Simulator sim;
    std::vector<std::unique_ptr<USBInterface>> interfaces;
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
        const double floor_per_s = 1e9 / double(floor_per_cycle.count());
        state.counters["floor_cycles_per_s"] = floor_per_s;
        state.counters["median_x_floor"] = floor_per_s / median_per_s;
        state.counters["cpu_us_per_cycle"] = std::chrono::duration<double, std::micro>(library_cpu).count() / cycles;
        state.counters["allocs_per_cycle"] = double(g_allocations.load() - allocations_start) / double(cycles);
        state.counters["failed"] = double(failures);
    }
};

// Arguments: bit rate selector, buses, drivers per bus, load.
void BM_ControlLoop(benchmark::State& state) {
    const auto rate = static_cast<CANBaudRate>(state.range(0));
    const auto buses = static_cast<unsigned>(state.range(1));
    const auto per_bus = static_cast<unsigned>(state.range(2));
    const auto load = static_cast<Load>(state.range(3));
    state.SetLabel(std::to_string(kinetra::sim::bitRateOf(rate) / 1000) + " kbit/s, " + std::to_string(buses) +
                   " bus x " + std::to_string(per_bus) + ", " + loadName(load));
    Bench bench(buses, per_bus, rate);
    if (!bench.ready) return state.SkipWithError("the simulated drivers did not appear");
    const std::size_t motors = bench.drivers.size();
    std::vector<float> position(motors), velocity(motors);
    ControlCycle cycle;
    for (std::size_t i = 0; i < motors; ++i) {
        Driver& driver = *bench.drivers[i];
        if (load == Load::CommandAndTwoReads) cycle.add(driver, MotorCommand::PositionControl, 0.0f);
        cycle.add(driver, MotorReading::MotorPosition, &position[i]);
        if (load != Load::OneRead) cycle.add(driver, MotorReading::MotorVelocity, &velocity[i]);
    }
    const auto once = [&] {
        if (load != Load::SequentialRead) return cycle.run() == RET_OK ? 0u : 1u;
        unsigned failed = 0;
        for (std::size_t i = 0; i < motors; ++i) failed += bench.drivers[i]->getMotorPosition(&position[i]) != RET_OK;
        return failed;
    };
    // Warm-up: the first round trips set up what the library keeps.
    once();
    const auto floor = bench.floorOf(load, per_bus);
    uint64_t cycles = 0, failures = 0;
    Measure measure(bench);
    for (auto _ : state) {
        measure.beginCycle();
        failures += once();
        measure.endCycle();
        ++cycles;
    }
    measure.report(state, cycles, floor, failures);
}

void rows(benchmark::internal::Benchmark* bench) {
    const auto read_only = static_cast<int64_t>(Load::OneRead);
    const auto command = static_cast<int64_t>(Load::CommandAndTwoReads);
    for (int64_t rate : {CAN_BAUD_500K, CAN_BAUD_1M}) {
        bench->Args({rate, 1, 6, static_cast<int64_t>(Load::SequentialRead)});
        bench->Args({rate, 1, 6, read_only});
        bench->Args({rate, 1, 6, static_cast<int64_t>(Load::TwoReads)});
        bench->Args({rate, 1, 6, command});
        bench->Args({rate, 1, 3, command});
        bench->Args({rate, 1, 12, command});
        bench->Args({rate, 2, 6, command});
        bench->Args({rate, 4, 3, command});
    }
}
BENCHMARK(BM_ControlLoop)->Apply(rows)->MinTime(2.0)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
