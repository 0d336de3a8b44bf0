// Control cycles over several simulated buses: replies in any order and
// interleaved across buses, faults of one bus kept to its own entries, node ids
// repeated across buses, and a run that allocates nothing.

#include "kinetra_sim/driver_node.h"
#include "kinetra_sim/reply_faults.h"
#include "kinetra_sim/simulator.h"

#include <kinetra/control_cycle.h>
#include <kinetra/driver.h>
#include <kinetra/usb_interface.h>

#include "devices/protocol/motor_controller_protocol.h"
#include "support/wait.h"
#include "usb/slcan_codec.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <new>
#include <thread>
#include <vector>

// Counts the allocations of the thread that asked for it: run() promises none.
// The sanitizers' runtimes bring their own operator new, so they count nothing.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KINETRA_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KINETRA_SANITIZED 1
#endif
#endif

#ifndef KINETRA_SANITIZED
namespace {
thread_local bool t_count_allocations = false;
thread_local unsigned long t_allocations = 0;
}  // namespace

// GCC sees the library's inlined news meet these deletes in one translation
// unit and takes malloc and free for a mismatch; they are a matching pair.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
    if (t_count_allocations) ++t_allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

namespace multi_bus_cycles {

using namespace std::chrono_literals;
using kinetra::sim::BusSetup;
using kinetra::sim::DriverNode;
using kinetra::sim::MotorFirmware;
using kinetra::sim::NodeKind;
using kinetra::sim::ReplyFaults;
using kinetra::sim::Simulator;
namespace motor = kinetra::protocol::motor;

constexpr std::size_t kBuses = 2;
constexpr uint32_t kNodes = 2;  // nodes 1 and 2 on every bus

// Two buses with drivers 1 and 2 each, a USBInterface per bus, and a cycle that
// commands each driver and reads its position and velocity.
class MultiBusCycleTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<BusSetup> setups(kBuses);
        for (BusSetup& setup : setups) {
            for (uint32_t node = 1; node <= kNodes; ++node) setup.nodes.push_back({NodeKind::Driver, node});
        }
        kinetra::sim::SimulatorOptions options;
        // The frame lines the library writes, per bus (one host per bus: host b is bus b).
        options.observer = [this](const kinetra::sim::TrafficEvent& event) {
            if (!recording || event.direction != kinetra::sim::Direction::FromHost || event.frame == nullptr) return;
            const uint8_t command = event.frame->can_id & 0x7F;
            if (command == kinetra::protocol::kHeartbeat || command == kinetra::protocol::kAcknowledgement) return;
            std::lock_guard<std::mutex> lock(lines_mutex);
            lines[event.host].emplace_back(event.line);
        };
        sim = std::make_unique<Simulator>(setups, options);
        sim->start();
        sim->registerAsAdapter();
        for (std::size_t bus = 0; bus < kBuses; ++bus) {
            ASSERT_TRUE(buses[bus].initInterface(sim->portOf(bus)));
            for (uint32_t node = 1; node <= kNodes; ++node) {
                ASSERT_TRUE(kinetra::test::eventually([&] { return buses[bus].isDeviceConnected(node); }, 3000ms));
                drivers.push_back(std::make_unique<Driver>(node, &buses[bus]));
                // Every motor reads a position of its own: 10 x bus + node.
                driverNode(bus, node).withFirmware(
                    [&](MotorFirmware& firmware) { firmware.motor().setPosition(float(10 * bus + node)); });
            }
        }
        for (std::size_t i = 0; i < drivers.size(); ++i) {
            cycle.add(*drivers[i], MotorCommand::Idle);
            entries.push_back({cycle.add(*drivers[i], MotorReading::MotorPosition, &position[i]),
                               cycle.add(*drivers[i], MotorReading::MotorVelocity, &velocity[i])});
        }
    }
    void TearDown() override {
        for (USBInterface& bus : buses) bus.closeInterface();
    }
    DriverNode& driverNode(std::size_t bus, uint32_t node) {
        return dynamic_cast<DriverNode&>(sim->onBus(bus).node(node));
    }
    static std::size_t indexOf(std::size_t bus, uint32_t node) { return bus * kNodes + node - 1; }

    struct Entries {
        std::size_t position, velocity;
    };
    std::atomic<bool> recording{false};
    std::mutex lines_mutex;
    std::vector<std::string> lines[kBuses];
    std::unique_ptr<Simulator> sim;
    USBInterface buses[kBuses];
    std::vector<std::unique_ptr<Driver>> drivers;
    ControlCycle cycle;
    std::vector<Entries> entries;
    float position[kBuses * kNodes] = {};
    float velocity[kBuses * kNodes] = {};
};

TEST_F(MultiBusCycleTest, RepliesLandInTheirEntriesWhateverTheirOrderAndTheFaultsOfOthers) {
    struct Fault {
        std::size_t bus;
        uint32_t node;
        uint8_t command;
        ReplyFaults faults;
    };
    ReplyFaults drop;
    drop.drop_fraction = 1.0;
    ReplyFaults as_torque;
    as_torque.answer_as = motor::kGetMotorTorque;
    const auto delayed = [](int ms) {
        ReplyFaults faults;
        faults.delay = std::chrono::milliseconds(ms);
        return faults;
    };
    struct Case {
        const char* what;
        std::vector<Fault> faults;
        // Which reads stay unanswered, as (bus, node, command).
        std::vector<Fault> unanswered;
        bool repeat = false;
    };
    const Case cases[] = {
        // Later nodes answer first, and the buses' replies interleave.
        {"reversed and interleaved",
         {{0, 1, motor::kGetMotorPosition, delayed(6)},
          {0, 1, motor::kGetMotorVelocity, delayed(4)},
          {1, 1, motor::kGetMotorPosition, delayed(5)},
          {1, 2, motor::kGetMotorVelocity, delayed(3)}},
         {}},
        {"a dropped reply", {{1, 2, motor::kGetMotorPosition, drop}}, {{1, 2, motor::kGetMotorPosition, {}}}},
        {"a reply naming another command",
         {{0, 1, motor::kGetMotorVelocity, as_torque}},
         {{0, 1, motor::kGetMotorVelocity, {}}}},
        {"replies sent twice", {}, {}, true},
        // One bus silent: its reads end at the wait, the other bus's are answered.
        {"one bus silent",
         {{1, 1, motor::kGetMotorPosition, drop},
          {1, 1, motor::kGetMotorVelocity, drop},
          {1, 2, motor::kGetMotorPosition, drop},
          {1, 2, motor::kGetMotorVelocity, drop}},
         {{1, 1, motor::kGetMotorPosition, {}},
          {1, 1, motor::kGetMotorVelocity, {}},
          {1, 2, motor::kGetMotorPosition, {}},
          {1, 2, motor::kGetMotorVelocity, {}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (std::size_t bus = 0; bus < kBuses; ++bus) {
            for (uint32_t node = 1; node <= kNodes; ++node) {
                for (uint8_t command : {motor::kGetMotorPosition, motor::kGetMotorVelocity}) {
                    driverNode(bus, node).setReplyFaults(command, ReplyFaults{});
                }
                driverNode(bus, node).setRepeatedReplies(c.repeat ? 1000us : 0us);
            }
        }
        for (const Fault& fault : c.faults) driverNode(fault.bus, fault.node).setReplyFaults(fault.command, fault.faults);
        // The repeats of the case before pass first: replies carry no sequence
        // number, so a repeat arriving while the next run waits would answer it.
        std::this_thread::sleep_for(50ms);
        // Twice: a duplicate or a late reply of the first run must not disturb the second.
        for (int round = 0; round < 2; ++round) {
            std::fill(std::begin(position), std::end(position), -1.0f);
            std::fill(std::begin(velocity), std::end(velocity), -1.0f);
            cycle.run();
            for (std::size_t bus = 0; bus < kBuses; ++bus) {
                for (uint32_t node = 1; node <= kNodes; ++node) {
                    const std::size_t i = indexOf(bus, node);
                    const auto silent = [&](uint8_t command) {
                        return std::any_of(c.unanswered.begin(), c.unanswered.end(), [&](const Fault& f) {
                            return f.bus == bus && f.node == node && f.command == command;
                        });
                    };
                    const bool position_lost = silent(motor::kGetMotorPosition);
                    const bool velocity_lost = silent(motor::kGetMotorVelocity);
                    EXPECT_EQ(cycle.status(entries[i].position), position_lost ? RET_TIMEOUT : RET_OK)
                        << "bus " << bus << " node " << node;
                    EXPECT_EQ(cycle.status(entries[i].velocity), velocity_lost ? RET_TIMEOUT : RET_OK)
                        << "bus " << bus << " node " << node;
                    EXPECT_EQ(position[i], position_lost ? -1.0f : float(10 * bus + node))
                        << "bus " << bus << " node " << node;
                    EXPECT_EQ(velocity[i], velocity_lost ? -1.0f : 0.0f) << "bus " << bus << " node " << node;
                }
            }
        }
    }
}

// Commands went after the requests, so a set point acted a round trip late.
TEST_F(MultiBusCycleTest, EachBusIsWrittenItsCommandsThenItsRequests) {
    recording = true;
    ASSERT_EQ(cycle.run(), RET_OK);
    recording = false;
    const auto line = [](uint32_t node, uint8_t command, kinetra::protocol::FrameKind kind, uint8_t dlc) {
        can_frame_data frame{};
        frame.can_id = kinetra::protocol::hostFrameId(node, command, kind);
        frame.can_dlc = dlc;
        std::string text = kinetra::slcan::encodeFrame(frame);
        return text.substr(0, text.size() - 1);  // without its terminator, as the adapter reports it
    };
    using kinetra::protocol::FrameKind;
    // Per bus, in the order added: the idle commands, then position and velocity of node 1, then of node 2.
    const std::vector<std::string> expected = {
        line(1, motor::kSetDeviceToIdle, FrameKind::Data, 0),
        line(2, motor::kSetDeviceToIdle, FrameKind::Data, 0),
        line(1, motor::kGetMotorPosition, FrameKind::Remote, kinetra::protocol::kQueryDlc),
        line(1, motor::kGetMotorVelocity, FrameKind::Remote, kinetra::protocol::kQueryDlc),
        line(2, motor::kGetMotorPosition, FrameKind::Remote, kinetra::protocol::kQueryDlc),
        line(2, motor::kGetMotorVelocity, FrameKind::Remote, kinetra::protocol::kQueryDlc)};
    std::lock_guard<std::mutex> lock(lines_mutex);
    for (std::size_t bus = 0; bus < kBuses; ++bus) EXPECT_EQ(lines[bus], expected) << "bus " << bus;
}

// A run allocated its request frames, so a 1 kHz loop allocated a thousand times a second.
TEST_F(MultiBusCycleTest, ARunAllocatesNothing) {
#ifdef KINETRA_SANITIZED
    GTEST_SKIP() << "the sanitizer's operator new counts nothing";
#else
    ASSERT_EQ(cycle.run(), RET_OK);
    t_allocations = 0;
    t_count_allocations = true;
    for (int i = 0; i < 20; ++i) cycle.run();
    t_count_allocations = false;
    EXPECT_EQ(t_allocations, 0u);
    EXPECT_EQ(cycle.run(), RET_OK);
#endif
}

// A bus whose adapter goes mid-run fails its own entries, not the others'.
TEST_F(MultiBusCycleTest, AnUnpluggedBusFailsItsEntriesAndTheOtherIsAnswered) {
    ReplyFaults slow;
    slow.delay = 150ms;
    for (uint32_t node = 1; node <= kNodes; ++node) {
        driverNode(1, node).setReplyFaults(motor::kGetMotorPosition, slow);
        driverNode(1, node).setReplyFaults(motor::kGetMotorVelocity, slow);
    }
    std::atomic<bool> unplugged{false};
    std::thread unplug([&] {
        std::this_thread::sleep_for(20ms);
        sim->onBus(1).host(0).unplug();
        unplugged = true;
    });
    cycle.run();
    unplug.join();
    for (uint32_t node = 1; node <= kNodes; ++node) {
        EXPECT_EQ(cycle.status(entries[indexOf(0, node)].position), RET_OK);
        EXPECT_EQ(cycle.status(entries[indexOf(0, node)].velocity), RET_OK);
        // Not answered: lost with its adapter (or, on a loaded machine, not yet lost at the wait's end).
        const ret_status_t status = cycle.status(entries[indexOf(1, node)].position);
        EXPECT_TRUE(status == RET_NOT_RUNNING || status == RET_TIMEOUT) << status;
    }
    ASSERT_TRUE(unplugged);
    ASSERT_TRUE(kinetra::test::eventually([&] { return buses[1].isAdapterLost(); }, 3000ms));
    cycle.run();
    for (uint32_t node = 1; node <= kNodes; ++node) {
        EXPECT_EQ(cycle.status(entries[indexOf(0, node)].position), RET_OK);
        EXPECT_EQ(cycle.status(entries[indexOf(1, node)].position), RET_NOT_RUNNING);
    }
}

}  // namespace multi_bus_cycles
