// A query's round trip over a virtual CAN interface (SocketCANInterface -> the
// kernel's CAN stack -> the simulator's SocketCAN endpoint and back), next to the
// same query over the simulator's pseudo-terminal (USBInterface -> serial layer)
// in the same machine, and the control cycle of six simulated drivers on the CAN
// interface. Needs vcan0 (or KINETRA_BENCH_VCAN); scripts/vm-test.sh runs it in
// its virtual machine. Without one it says so and ends with 0.

#include "kinetra_sim/simulator.h"

#include <kinetra/control_cycle.h>
#include <kinetra/driver.h>
#include <kinetra/socketcan_interface.h>
#include <kinetra/usb_interface.h>

#include "socketcan/link_control.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using kinetra::sim::NodeKind;

constexpr int kRoundTrips = 2000;
constexpr int kCycles = 1000;
constexpr unsigned kDrivers = 6;

struct Figures {
    double median_us = 0;
    double p99_us = 0;
    int failed = 0;
};

Figures summarise(std::vector<double>& micros, int failed) {
    Figures figures;
    figures.failed = failed;
    if (micros.empty()) return figures;
    std::sort(micros.begin(), micros.end());
    figures.median_us = micros[micros.size() / 2];
    figures.p99_us = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
    return figures;
}

// Waits (bounded) until every driver is present and a send has succeeded.
bool waitForDrivers(Interface& bus, unsigned count) {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
        if (bus.getConnectedDevices().size() >= count && bus.isRunning()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

Figures queryRoundTrips(Interface& bus) {
    Driver driver(1, &bus);
    std::vector<double> micros;
    micros.reserve(kRoundTrips);
    int failed = 0;
    for (int i = 0; i < kRoundTrips; ++i) {
        unsigned char a, b, c, d;
        const auto start = Clock::now();
        const ret_status_t status = driver.getHardwareVersion(&a, &b, &c, &d);
        const auto took = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        if (status == RET_OK) micros.push_back(took); else ++failed;
    }
    return summarise(micros, failed);
}

Figures controlCycles(Interface& bus) {
    std::vector<std::unique_ptr<Driver>> drivers;
    std::array<float, kDrivers> positions{};
    ControlCycle cycle(&bus);
    for (unsigned i = 0; i < kDrivers; ++i) {
        drivers.push_back(std::make_unique<Driver>(i + 1, &bus));
        cycle.add(*drivers.back(), MotorReading::MotorPosition, &positions[i]);
    }
    std::vector<double> micros;
    int failed = 0;
    for (int i = 0; i < kCycles; ++i) {
        const auto start = Clock::now();
        const ret_status_t status = cycle.run();
        const auto took = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        if (status == RET_OK) micros.push_back(took); else ++failed;
    }
    return summarise(micros, failed);
}

void print(const char* what, const Figures& figures) {
    std::printf("%-44s median %8.1f us   p99 %8.1f us   failed %d\n", what, figures.median_us, figures.p99_us,
                figures.failed);
}

}  // namespace

int main() {
    const char* chosen = std::getenv("KINETRA_BENCH_VCAN");
    const std::string name = chosen ? chosen : "vcan0";
    if (!kinetra::socketcan::refuseInterfaceName(name).empty()) {
        std::printf("socketcan_bench: no CAN interface %s here; skipped (scripts/vm-test.sh runs it)\n", name.c_str());
        return 0;
    }
    std::vector<kinetra::sim::NodeSetup> nodes;
    for (unsigned i = 1; i <= kDrivers; ++i) nodes.push_back({NodeKind::Driver, i});
    kinetra::sim::SimulatorOptions options;
    options.socketcan = name;
    kinetra::sim::Simulator sim(nodes, options);
    sim.start();
    sim.registerAsAdapter();

    int status = 0;
    {
        SocketCANInterface bus;
        if (bus.initInterface(name) && waitForDrivers(bus, kDrivers)) {
            print(("query round trip over " + name).c_str(), queryRoundTrips(bus));
            print(("control cycle of six drivers over " + name).c_str(), controlCycles(bus));
        } else {
            std::printf("socketcan_bench: the drivers did not appear on %s\n", name.c_str());
            status = 1;
        }
    }
    {
        USBInterface bus;
        if (bus.initInterface(sim.portName()) && waitForDrivers(bus, kDrivers)) {
            print("query round trip over the pseudo-terminal", queryRoundTrips(bus));
            print("control cycle of six drivers over the pty", controlCycles(bus));
        } else {
            std::printf("socketcan_bench: the drivers did not appear on %s\n", sim.portName().c_str());
            status = 1;
        }
    }
    sim.stop();
    return status;
}
