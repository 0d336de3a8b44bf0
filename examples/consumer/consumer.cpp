// A program outside the library's tree, built against an installed
// kinetra_transport: it finds a driver on the bus, reads its supply and moves it.
//
//   consumer             a simulated driver in this process (the kinetra::sim library)
//   consumer PORT        the driver 1 of a kinetra-sim running elsewhere, on PORT

#include <kinetra/driver.h>
#include <kinetra/serial/serial.h>
#include <kinetra/usb_interface.h>
#include <kinetra_sim/simulator.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

namespace {

constexpr unsigned kDriverNode = 1;

// The appeared callback runs before the node counts as present, and the interface
// runs once its first heartbeat went out: wait for both, within a bound.
bool waitReady(USBInterface& bus, Driver& driver, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!driver.isConnected() || !bus.isRunning()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

int drive(USBInterface& bus, const std::string& port) {
    try {
        if (!bus.initInterface(port, [](unsigned node, unsigned char type) {
                std::printf("node %u appeared, type %u\n", node, type);
            })) {
            std::fprintf(stderr, "cannot open %s\n", port.c_str());
            return 1;
        }
    } catch (const serial::IOException& e) {
        std::fprintf(stderr, "cannot open %s: %s\n", port.c_str(), e.what());
        return 1;
    } catch (const NoCompatibleDeviceException& e) {
        std::fprintf(stderr, "%s: %s\n", port.c_str(), e.what());
        return 1;
    }
    Driver driver(kDriverNode, &bus);
    if (!waitReady(bus, driver, std::chrono::seconds(3))) {
        std::fprintf(stderr, "driver %u did not appear\n", kDriverNode);
        return 1;
    }
    float volts = 0.0f;
    if (const ret_status_t status = driver.getBusVoltage(&volts); status != RET_OK) {
        std::fprintf(stderr, "bus voltage: status %d\n", static_cast<int>(status));
        return 1;
    }
    std::printf("library %s, driver bus voltage %.1f V\n", getLibraryVersion().c_str(), volts);
    if (driver.setPositionControl(1.0f, 0.0f) != RET_OK) return 1;
    float position = 0.0f;
    if (driver.getMotorPosition(&position) != RET_OK) return 1;
    std::printf("moving, motor at %.3f turns\n", position);
    bus.closeInterface();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        // kinetra-sim runs its bus at 500 kbit/s; a generic SLCAN transport sets it.
        SlcanInterface bus(CAN_BAUD_500K);
        return drive(bus, argv[1]);
    }
    try {
        kinetra::sim::Simulator sim({{kinetra::sim::NodeKind::Driver, kDriverNode}});
        sim.start();
        sim.registerAsAdapter();
        USBInterface bus;
        const int result = drive(bus, sim.portName());
        sim.stop();
        return result;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "simulator: %s\n", e.what());
        return 1;
    }
}
