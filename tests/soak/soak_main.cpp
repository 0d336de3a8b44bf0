// The soak: four simulated drivers, four application threads querying and
// commanding them in random order (several threads on one proxy at once), and
// one thread injecting random faults: dropped, delayed (always well inside the
// 200 ms wait, so no reply can be late), repeated and wrongly identified
// replies, restarting nodes and garbage from the adapter. It fails on a value
// returned with RET_OK that its node does not hold (every node's every value
// differs from every other's), on a call that does not return within its bound,
// and on memory that grows by more than 10% after the warm-up. Runs for
// KINETRA_SOAK_SECONDS (default 5).

#include "kinetra_sim/driver_node.h"
#include "kinetra_sim/simulator.h"

#include <kinetra/driver.h>
#include <kinetra/usb_interface.h>

#include "devices/protocol/motor_controller_protocol.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using SoakClock = std::chrono::steady_clock;
namespace motor = kinetra::protocol::motor;

constexpr unsigned kNodes = 4;
constexpr unsigned kAppThreads = 4;
// Far above what a call needs with every fault (six exchanges of 200 ms at
// most): a call past it is stuck.
constexpr auto kCallBound = 5s;
// No progress of any thread for this long is a deadlock.
constexpr auto kStallBound = 15s;
// The gains the threads set; a read gives one of them or the factory value.
constexpr std::array<float, 3> kGains = {11.5f, 12.5f, 13.5f};

float soakSupply(unsigned node) { return 30.5f + static_cast<float>(node); }
uint64_t soakDebugWord(unsigned node, unsigned index) { return 0xC0DE0000ull + node * 0x10u + index; }

long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

struct SoakTally {
    std::atomic<uint64_t> calls{0};
    std::atomic<uint64_t> ok{0};
    std::atomic<uint64_t> wrong{0};
    std::atomic<uint64_t> slow{0};
    std::atomic<uint64_t> faults{0};
    std::mutex report_mutex;

    void wrongValue(const std::string& what) {
        ++wrong;
        std::lock_guard<std::mutex> lock(report_mutex);
        std::cerr << "soak: wrong value returned with RET_OK: " << what << "\n";
    }
};

struct SoakBus {
    explicit SoakBus(const std::vector<kinetra::sim::NodeSetup>& nodes) : sim(nodes) {}
    kinetra::sim::Simulator sim;
    USBInterface iface;
    std::array<std::unique_ptr<Driver>, kNodes> drivers;
    std::array<float, kNodes> factory_gain{};
    std::array<std::tuple<unsigned char, unsigned char, unsigned short>, kNodes> version{};
};

bool knownGain(float gain, float factory) {
    if (gain == factory) return true;
    for (float g : kGains) {
        if (gain == g) return true;
    }
    return false;
}

// One call, chosen at random, with its returned values checked.
void soakCall(SoakBus& bus, SoakTally& tally, std::mt19937& random) {
    const unsigned index = std::uniform_int_distribution<unsigned>(0, kNodes - 1)(random);
    const unsigned node = index + 1;
    Driver& driver = *bus.drivers[index];
    const int kind = std::uniform_int_distribution<int>(0, 5)(random);
    ret_status_t status = RET_OK;
    const auto start = SoakClock::now();
    switch (kind) {
        case 0: {
            float volts = 0.0f;
            status = driver.getBusVoltage(&volts);
            if (status == RET_OK && volts != soakSupply(node)) {
                tally.wrongValue("node " + std::to_string(node) + " bus voltage " + std::to_string(volts));
            }
            break;
        }
        case 1: {
            std::array<unsigned long long, 6> words{};
            status = driver.getDebugErrorCode(&words[0], &words[1], &words[2], &words[3], &words[4], &words[5]);
            for (unsigned i = 0; status == RET_OK && i < 6; ++i) {
                if (words[i] != soakDebugWord(node, i + 1)) {
                    tally.wrongValue("node " + std::to_string(node) + " debug word " + std::to_string(i + 1));
                }
            }
            break;
        }
        case 2: {
            unsigned char major = 0, minor = 0;
            unsigned short patch = 0;
            status = driver.getFirmwareVersion(&major, &minor, &patch);
            if (status == RET_OK && std::make_tuple(major, minor, patch) != bus.version[index]) {
                tally.wrongValue("node " + std::to_string(node) + " firmware version");
            }
            break;
        }
        case 3: {
            float gain = 0.0f;
            status = driver.getPositionControllerGain(&gain);
            if (status == RET_OK && !knownGain(gain, bus.factory_gain[index])) {
                tally.wrongValue("node " + std::to_string(node) + " position gain " + std::to_string(gain));
            }
            break;
        }
        case 4:
            status = driver.setPositionControllerGain(
                kGains[std::uniform_int_distribution<std::size_t>(0, kGains.size() - 1)(random)]);
            break;
        default: status = driver.setDeviceToIdle(); break;
    }
    if (SoakClock::now() - start > kCallBound) ++tally.slow;
    ++tally.calls;
    if (status == RET_OK) ++tally.ok;
}

// One random fault on one node (or the adapter), for a random while.
void injectFault(SoakBus& bus, SoakTally& tally, std::mt19937& random) {
    const unsigned node = std::uniform_int_distribution<unsigned>(1, kNodes)(random);
    kinetra::sim::Node& target = bus.sim.node(node);
    kinetra::sim::ReplyFaults faults;
    const int kind = std::uniform_int_distribution<int>(0, 5)(random);
    switch (kind) {
        case 0: faults.drop_fraction = std::uniform_real_distribution<double>(0.2, 1.0)(random); break;
        case 1: faults.delay = std::chrono::milliseconds(std::uniform_int_distribution<int>(1, 80)(random)); break;
        case 2:
            // A repeated reply of one command can only answer that command again,
            // with the same value; the debug words share one command across
            // indices, so they are not repeated.
            target.setRepeatedReplies(std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 20)(random)),
                                      motor::kGetBusVoltageCurrent);
            break;
        case 3: faults.answer_as = motor::kGetTemperatures; break;
        case 4: target.reboot(std::chrono::milliseconds(std::uniform_int_distribution<int>(50, 400)(random))); break;
        default: bus.sim.sendGarbage(std::uniform_int_distribution<unsigned>(1, 20)(random)); break;
    }
    if (faults.any()) target.setReplyFaults(faults);
    ++tally.faults;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(20, 300)(random)));
    target.clearReplyFaults();
}

int soakSeconds() {
    const char* text = std::getenv("KINETRA_SOAK_SECONDS");
    if (text == nullptr || *text == '\0') return 5;
    const int seconds = std::atoi(text);
    return seconds > 0 ? seconds : 5;
}

}  // namespace

int main() {
    const int seconds = soakSeconds();
    std::vector<kinetra::sim::NodeSetup> nodes;
    for (unsigned node = 1; node <= kNodes; ++node) nodes.push_back({kinetra::sim::NodeKind::Driver, node});
    SoakBus bus(nodes);
    for (unsigned node = 1; node <= kNodes; ++node) {
        bus.sim.nodeAs<kinetra::sim::DriverNode>(node).withFirmware([node](kinetra::sim::MotorFirmware& firmware) {
            firmware.setSupply(soakSupply(node), 0.0f);
            for (unsigned i = 1; i <= 6; ++i) firmware.setDebugWord(i, soakDebugWord(node, i));
        });
        bus.drivers[node - 1] = std::make_unique<Driver>(node, &bus.iface);
    }
    bus.sim.start();
    bus.sim.registerAsAdapter();
    if (!bus.iface.initInterface(bus.sim.portName())) {
        std::cerr << "soak: the interface did not open\n";
        return 1;
    }
    const auto ready_by = SoakClock::now() + 5s;
    auto ready = [&] {
        for (unsigned node = 1; node <= kNodes; ++node) {
            if (!bus.iface.isDeviceConnected(node)) return false;
        }
        return bus.iface.isRunning();
    };
    while (!ready()) {
        if (SoakClock::now() > ready_by) {
            std::cerr << "soak: the nodes did not appear\n";
            return 1;
        }
        std::this_thread::sleep_for(10ms);
    }
    for (unsigned i = 0; i < kNodes; ++i) {
        auto& [major, minor, patch] = bus.version[i];
        if (bus.drivers[i]->getFirmwareVersion(&major, &minor, &patch) != RET_OK ||
            bus.drivers[i]->getPositionControllerGain(&bus.factory_gain[i]) != RET_OK) {
            std::cerr << "soak: node " << i + 1 << " does not answer before the faults\n";
            return 1;
        }
    }

    SoakTally tally;
    std::atomic<bool> stop{false};
    std::array<std::atomic<int64_t>, kAppThreads> progress{};
    auto nowTicks = [] { return SoakClock::now().time_since_epoch().count(); };
    for (auto& p : progress) p = nowTicks();
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < kAppThreads; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 random(1000 + t);
            while (!stop) {
                soakCall(bus, tally, random);
                progress[t] = nowTicks();
            }
        });
    }
    std::thread faulter([&] {
        std::mt19937 random(7);
        while (!stop) injectFault(bus, tally, random);
    });

    const auto start = SoakClock::now();
    const auto end = start + std::chrono::seconds(seconds);
    const auto warm = start + std::chrono::seconds(seconds) / 5 + 500ms;
    long rss_warm = 0;
    while (SoakClock::now() < end) {
        std::this_thread::sleep_for(100ms);
        if (rss_warm == 0 && SoakClock::now() >= warm) rss_warm = residentKiB();
        for (unsigned t = 0; t < kAppThreads; ++t) {
            if (SoakClock::now().time_since_epoch().count() - progress[t].load() >
                std::chrono::duration_cast<SoakClock::duration>(kStallBound).count()) {
                std::cerr << "soak: thread " << t << " made no progress for "
                          << std::chrono::duration_cast<std::chrono::seconds>(kStallBound).count()
                          << " s: deadlock\n";
                std::_Exit(3);
            }
        }
    }
    const long rss_end = residentKiB();
    stop = true;
    for (auto& thread : threads) thread.join();
    faulter.join();
    bus.iface.closeInterface();

    std::cout << "soak: " << seconds << " s, " << tally.calls << " calls (" << tally.ok << " RET_OK), "
              << tally.faults << " faults, resident " << rss_warm << " KiB after warm-up, " << rss_end
              << " KiB at the end\n";
    int failed = 0;
    if (tally.wrong > 0) {
        std::cerr << "soak: " << tally.wrong << " wrong values returned with RET_OK\n";
        failed = 1;
    }
    if (tally.slow > 0) {
        std::cerr << "soak: " << tally.slow << " calls took longer than their bound\n";
        failed = 1;
    }
    if (tally.ok == 0) {
        std::cerr << "soak: no call succeeded\n";
        failed = 1;
    }
#if !defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer keeps freed memory in quarantine, so its resident size grows by design.
    if (rss_warm > 0 && rss_end > rss_warm + rss_warm / 10) {
        std::cerr << "soak: resident memory grew by more than 10% after the warm-up\n";
        failed = 1;
    }
#endif
    return failed;
}
