// A robot's control loop: twelve motor drivers on four buses (a leg per bus,
// three motors each), each sent a position set point and read back (position
// and velocity) every period, at a fixed rate, by one ControlCycle. It runs
// against four simulated buses with the timing model on (500 kbit/s, 1 ms
// adapter latency each way), so the rate is one real hardware allows. With
// hardware, open each adapter's port instead and drop the simulator.

#include <kinetra/control_cycle.h>
#include <kinetra/driver.h>
#include <kinetra/usb_interface.h>

#include "kinetra_sim/simulator.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr unsigned kBuses = 4;
constexpr unsigned kPerBus = 3;
constexpr unsigned kMotors = kBuses * kPerBus;
constexpr double kRateHz = 100.0;
constexpr auto kRunFor = std::chrono::seconds(2);
constexpr float kAmplitude = 0.25f;  // turns
constexpr double kWaveHz = 0.5;
constexpr double kTwoPi = 6.283185307179586;

}  // namespace

int main() {
    // Four buses, nodes 1 to 3 on each: node ids repeat across buses.
    std::vector<kinetra::sim::BusSetup> setups(kBuses);
    for (kinetra::sim::BusSetup& setup : setups) {
        for (unsigned node = 1; node <= kPerBus; ++node) setup.nodes.push_back({kinetra::sim::NodeKind::Driver, node});
        setup.timing.enabled = true;  // what `kinetra-sim --realistic` does
    }
    kinetra::sim::Simulator sim(setups, {});
    sim.start();
    sim.registerAsAdapter();

    USBInterface buses[kBuses];
    std::vector<std::unique_ptr<Driver>> drivers;
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    for (unsigned bus = 0; bus < kBuses; ++bus) {
        if (!buses[bus].initInterface(sim.portOf(bus))) return 1;
        for (unsigned node = 1; node <= kPerBus; ++node) drivers.push_back(std::make_unique<Driver>(node, &buses[bus]));
        while (buses[bus].getConnectedDevices().size() < kPerBus) {
            if (Clock::now() > deadline) return 1;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    for (auto& driver : drivers) driver->setDeviceToActive();

    // Set up once: per motor a position command, then its position and velocity reads.
    ControlCycle cycle;
    std::size_t command[kMotors];
    float position[kMotors] = {}, velocity[kMotors] = {};
    for (unsigned i = 0; i < kMotors; ++i) {
        command[i] = cycle.add(*drivers[i], MotorCommand::PositionControl, 0.0f);
        cycle.add(*drivers[i], MotorReading::MotorPosition, &position[i]);
        cycle.add(*drivers[i], MotorReading::MotorVelocity, &velocity[i]);
    }

    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / kRateHz));
    const auto start = Clock::now();
    auto next = start;
    unsigned cycles = 0, failed = 0, late = 0;
    while (Clock::now() - start < kRunFor) {
        const double t = std::chrono::duration<double>(Clock::now() - start).count();
        for (unsigned i = 0; i < kMotors; ++i) {
            // Each leg a quarter wave behind the one before.
            const double phase = kTwoPi * (kWaveHz * t + double(i / kPerBus) / kBuses);
            cycle.setSetpoint(command[i], kAmplitude * static_cast<float>(std::sin(phase)));
        }
        failed += cycle.run() != RET_OK;
        ++cycles;
        next += period;
        if (Clock::now() > next) {
            ++late;  // this period overran: start the next one now
            next = Clock::now();
        }
        std::this_thread::sleep_until(next);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    for (auto& driver : drivers) driver->setDeviceToIdle();
    std::printf("%u motors on %u buses, a position command and 2 reads each per cycle:\n", kMotors, kBuses);
    std::printf("  asked %.0f cycles/s, kept %.1f cycles/s (%u cycles, %u overran, %u with an entry not OK)\n",
                kRateHz, cycles / seconds, cycles, late, failed);
    std::printf("  positions (turns):");
    for (float p : position) std::printf(" %.3f", p);
    std::printf("\n");
    for (USBInterface& bus : buses) bus.closeInterface();
    return failed == 0 && late * 10 < cycles ? 0 : 1;
}
