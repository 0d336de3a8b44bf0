// Faults of the bus against every kind of operation, end to end through the
// pseudo-terminal, the simulated adapter and simulated drivers. A row is one
// fault; its cells say how each kind of operation ends while the fault lasts.
// The operations of a row run at once, each on a driver of its own, so a row
// costs about its slowest cell. Every value returned with RET_OK must be the one
// its node holds (each node's values differ from every other node's and
// command's), so a reply of another command taken for it shows; and after the
// fault ends every operation works again.

#include "kinetra_sim/driver_node.h"
#include "kinetra_sim/simulator.h"

#include <kinetra/driver.h>
#include <kinetra/offaxis_calibration.h>
#include <kinetra/usb_interface.h>

#include "config/config_import.h"
#include "devices/protocol/motor_controller_protocol.h"
#include "support/manual_clock.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace kinetra::sim {
namespace {

using namespace std::chrono_literals;
using MatrixClock = std::chrono::steady_clock;
namespace motor = protocol::motor;

enum MatrixOp { kCommandOp, kQueryOp, kMultiReadOp, kExportOp, kImportOp, kCalibrationOp, kMatrixOps };
constexpr std::array<const char*, kMatrixOps> kMatrixOpNames = {"command", "query",  "multi-exchange read",
                                                                 "export",  "import", "calibration"};
// Hang catchers far above what each operation needs (a query waits 200 ms), not
// timings: a call that blocks past them is stuck.
constexpr std::array<std::chrono::milliseconds, kMatrixOps> kMatrixOpBound = {3500ms, 3000ms, 4000ms,
                                                                              4000ms, 4000ms, 8000ms};
// Angle reads the calibration cell needs before it cancels its run: the run is
// then known to measure.
constexpr unsigned kCalibrationSamples = 40;
// When a row's strike comes, after the operations started.
constexpr auto kStrikeAfter = 20ms;

unsigned matrixNode(int op) { return static_cast<unsigned>(op) + 1; }
float matrixSupply(unsigned node) { return 20.25f + static_cast<float>(node); }
uint64_t matrixDebugWord(unsigned node, unsigned index) { return 0xD0000000ull + node * 0x100u + index; }

std::string statusText(ret_status_t status) {
    switch (status) {
        case RET_OK: return "ok";
        case RET_NOT_INITIALISED: return "not-initialised";
        case RET_TIMEOUT: return "timeout";
        case RET_NOT_CONNECTED: return "not-connected";
        case RET_NOT_RUNNING: return "not-running";
        case RET_INVALID_ARGUMENT: return "invalid-argument";
    }
    return "status " + std::to_string(static_cast<int>(status));
}

// The import's group pauses, really taken but shortened fivefold, so the import
// is still under way when a fault strikes.
class BriefPauseClock final : public ProcedureClock {
public:
    clock::time_point now() override { return clock::now(); }
    void sleepFor(clock::duration duration) override { std::this_thread::sleep_for(duration / 5); }
};

// Six drivers behind the simulated adapter, one per kind of operation.
struct MatrixBench {
    MatrixBench()
        : sim({{NodeKind::Driver, 1},
               {NodeKind::Driver, 2},
               {NodeKind::Driver, 3},
               {NodeKind::Driver, 4},
               {NodeKind::Driver, 5},
               {NodeKind::Driver, 6}}) {
        for (int op = 0; op < kMatrixOps; ++op) {
            const unsigned node = matrixNode(op);
            sim.nodeAs<DriverNode>(node).withFirmware([node](MotorFirmware& firmware) {
                firmware.setSupply(matrixSupply(node), 0.0f);
                for (unsigned i = 1; i <= 6; ++i) firmware.setDebugWord(i, matrixDebugWord(node, i));
            });
            drivers[static_cast<std::size_t>(op)] = std::make_unique<Driver>(node, &iface);
        }
        sim.start();
        sim.registerAsAdapter();
    }
    ~MatrixBench() {
        for (auto& driver : drivers) driver.reset();
        iface.closeInterface();
    }

    bool ready() {
        for (int op = 0; op < kMatrixOps; ++op) {
            if (!iface.isDeviceConnected(matrixNode(op))) return false;
        }
        return iface.isRunning();
    }
    bool open() {
        return iface.initInterface(sim.portName()) && test::eventually([&] { return ready(); }, 3000ms);
    }
    Driver& driver(int op) { return *drivers[static_cast<std::size_t>(op)]; }

    // The fault on every node's replies; the calibration's node has it on its
    // angle reads only, so that its run starts and the fault meets a measurement.
    void setReplyFaults(const ReplyFaults& faults) {
        for (int op = 0; op < kMatrixOps; ++op) {
            if (op == kCalibrationOp) {
                sim.node(matrixNode(op)).setReplyFaults(motor::kGetMotorPosition, faults);
            } else {
                sim.node(matrixNode(op)).setReplyFaults(faults);
            }
        }
    }
    void clearReplyFaults() {
        for (int op = 0; op < kMatrixOps; ++op) sim.node(matrixNode(op)).clearReplyFaults();
    }
    void rebootAll(std::chrono::milliseconds silence) {
        for (int op = 0; op < kMatrixOps; ++op) sim.node(matrixNode(op)).reboot(silence);
    }

    Simulator sim;
    USBInterface iface;
    std::array<std::unique_ptr<Driver>, kMatrixOps> drivers;
    // What each node holds while healthy, read before the fault.
    std::array<std::tuple<unsigned char, unsigned char, unsigned short>, kMatrixOps> version{};
    std::array<std::string, kMatrixOps> document{};
    BriefPauseClock import_clock;
    test::ManualClock calibration_clock;
    // Set when the row's fault strikes (at once for a fault without a strike),
    // and once every operation has returned.
    std::atomic<bool> struck{false};
    std::atomic<bool> ops_done{false};
};

struct MatrixRow {
    const char* name;
    // Set up before the operations start.
    std::function<void(MatrixBench&)> before;
    // Struck by another thread kStrikeAfter after they started (may run until ops_done).
    std::function<void(MatrixBench&)> strike;
    // What the command waits for before it is sent, so that it meets the fault.
    std::function<bool(MatrixBench&, unsigned node)> visible;
    // Ends the fault; the bench then waits until every node is heard again.
    std::function<void(MatrixBench&)> end;
    // How each operation ends while the fault lasts; null where the cell has no
    // meaning (said at the row).
    std::array<const char*, kMatrixOps> outcome;
};

/// Names a row in gtest's messages instead of dumping its bytes.
void PrintTo(const MatrixRow& row, std::ostream* os) { *os << row.name; }

std::string sameOrBoth(const std::string& first, const std::string& second) {
    return first == second ? first : first + " then " + second;
}

std::string runMatrixOp(MatrixBench& bench, const MatrixRow& row, int op) {
    const unsigned node = matrixNode(op);
    const std::size_t at = static_cast<std::size_t>(op);
    Driver& driver = bench.driver(op);
    switch (op) {
        case kCommandOp: {
            test::eventually([&] { return bench.struck.load() && (!row.visible || row.visible(bench, node)); },
                             3000ms);
            return statusText(driver.setVelocityControl(0.5f));
        }
        case kQueryOp: {
            // A second query of another command follows, which a late reply of
            // the first would meet.
            float volts = -1.0f;
            const ret_status_t first = driver.getBusVoltage(&volts);
            if (first == RET_OK) {
                EXPECT_EQ(volts, matrixSupply(node));
            }
            unsigned char major = 0, minor = 0;
            unsigned short patch = 0;
            const ret_status_t second = driver.getFirmwareVersion(&major, &minor, &patch);
            if (second == RET_OK) {
                EXPECT_EQ(std::make_tuple(major, minor, patch), bench.version[at]);
            }
            return sameOrBoth(statusText(first), statusText(second));
        }
        case kMultiReadOp: {
            constexpr unsigned long long kUntouched = 0x5EA1;
            std::array<unsigned long long, 6> words;
            words.fill(kUntouched);
            const ret_status_t status =
                driver.getDebugErrorCode(&words[0], &words[1], &words[2], &words[3], &words[4], &words[5]);
            for (unsigned i = 0; i < 6; ++i) {
                // Words after a failed exchange stay untouched; every word read is its own.
                if (status != RET_OK && words[i] == kUntouched) continue;
                EXPECT_EQ(words[i], matrixDebugWord(node, i + 1)) << "word " << i + 1;
            }
            return statusText(status);
        }
        case kExportOp: {
            const std::string text = driver.exportConfiguration();
            if (text.empty()) return "empty";
            return text == bench.document[at] ? "ok" : "different";
        }
        case kImportOp: {
            std::ostringstream printed;
            const unsigned char done =
                config::importDriverConfiguration(driver, bench.document[at], printed, bench.import_clock);
            return done == 1 ? "ok" : "failed";
        }
        case kCalibrationOp: {
            std::atomic<bool> cancel{false};
            OffAxisCalibrationOptions options;
            options.clock = &bench.calibration_clock;
            options.cancel = &cancel;
            // Two failed reads in a row end the run: each costs a real 200 ms wait.
            options.read_timeout = 1ms;
            options.progress = [&](OffAxisStage stage, unsigned sample) {
                if (stage == OffAxisStage::Measurement1 && sample >= kCalibrationSamples) cancel = true;
            };
            const OffAxisCalibrationResult result = driver.runMAxxxOffAxisCalibration(false, 90.0f, options);
            if (result.cancelled) return "ok";
            if (result.read_timed_out) return "read-timed-out";
            return result.compatible ? "failed" : "incompatible";
        }
        default: return "no such operation";
    }
}

// Runs every operation of the row at once and checks what each returned.
void runMatrixOps(MatrixBench& bench, const MatrixRow& row, bool faulty) {
    bench.struck = !faulty || !row.strike;
    bench.ops_done = false;
    std::array<std::string, kMatrixOps> outcome;
    std::array<MatrixClock::duration, kMatrixOps> took{};
    std::vector<std::thread> threads;
    // The calibration prints its progress; nobody reads it here.
    testing::internal::CaptureStdout();
    for (int op = 0; op < kMatrixOps; ++op) {
        const std::size_t at = static_cast<std::size_t>(op);
        if (faulty && row.outcome[at] == nullptr) continue;
        threads.emplace_back([&, op, at] {
            const auto start = MatrixClock::now();
            outcome[at] = runMatrixOp(bench, row, op);
            took[at] = MatrixClock::now() - start;
        });
    }
    std::thread striker;
    if (faulty && row.strike) {
        striker = std::thread([&] {
            std::this_thread::sleep_for(kStrikeAfter);
            // Before the strike, which may last until the operations end: what
            // the command waits for beyond this is the row's visible effect.
            bench.struck = true;
            row.strike(bench);
        });
    }
    for (auto& thread : threads) thread.join();
    bench.ops_done = true;
    if (striker.joinable()) striker.join();
    testing::internal::GetCapturedStdout();
    for (int op = 0; op < kMatrixOps; ++op) {
        const std::size_t at = static_cast<std::size_t>(op);
        if (faulty && row.outcome[at] == nullptr) continue;
        SCOPED_TRACE(std::string(kMatrixOpNames[at]) + (faulty ? " during the fault" : " after it"));
        EXPECT_EQ(outcome[at], faulty ? row.outcome[at] : "ok");
        EXPECT_LT(took[at], kMatrixOpBound[at]);
    }
}

ReplyFaults droppedReplies() {
    ReplyFaults faults;
    faults.drop_fraction = 1.0;
    return faults;
}
ReplyFaults repliesAfter(std::chrono::milliseconds delay) {
    ReplyFaults faults;
    faults.delay = delay;
    return faults;
}
ReplyFaults answeredAsTemperatures() {
    ReplyFaults faults;
    faults.answer_as = motor::kGetTemperatures;
    return faults;
}
void endReplyFaults(MatrixBench& bench) { bench.clearReplyFaults(); }

// Replies held 150 ms (inside the wait), so that every operation has an exchange
// in flight when a strike 20 ms in pulls the adapter or restarts the nodes, even
// on a slow sanitizer build.
void holdReplies(MatrixBench& bench) { bench.setReplyFaults(repliesAfter(150ms)); }

// Commands are not answered, so reply faults leave them RET_OK, and an import
// (writes only) as well. Left out: the calibration under late replies, whose
// every angle read would be answered by the reply of the read before it (the
// same command: the protocol carries no sequence number); the multi-exchange
// read under repeated replies, for the same reason (its six exchanges share one
// command and the reply names no index).
const std::vector<MatrixRow> kMatrixRows = {
    {"no_fault", nullptr, nullptr, nullptr, nullptr, {"ok", "ok", "ok", "ok", "ok", "ok"}},
    {"replies_dropped",
     [](MatrixBench& b) { b.setReplyFaults(droppedReplies()); },
     nullptr,
     nullptr,
     endReplyFaults,
     {"ok", "timeout", "timeout", "empty", "ok", "read-timed-out"}},
    {"replies_later_than_the_wait",
     [](MatrixBench& b) { b.setReplyFaults(repliesAfter(350ms)); },
     nullptr,
     nullptr,
     [](MatrixBench& b) {
         b.clearReplyFaults();
         std::this_thread::sleep_for(400ms);  // the late replies land before recovery
     },
     {"ok", "timeout", "timeout", "empty", "ok", nullptr}},
    {"replies_repeated",
     [](MatrixBench& b) {
         for (int op = 0; op < kMatrixOps; ++op) b.sim.node(matrixNode(op)).setRepeatedReplies(0us);
     },
     nullptr,
     nullptr,
     endReplyFaults,
     {"ok", "ok", nullptr, "ok", "ok", "ok"}},
    {"replies_with_another_command_id",
     [](MatrixBench& b) { b.setReplyFaults(answeredAsTemperatures()); },
     nullptr,
     nullptr,
     endReplyFaults,
     {"ok", "timeout", "timeout", "empty", "ok", "read-timed-out"}},
    {"garbage_lines",
     [](MatrixBench& b) { b.sim.sendGarbage(20); },
     [](MatrixBench& b) {
         while (!b.ops_done) {
             b.sim.sendGarbage(2);
             std::this_thread::sleep_for(2ms);
         }
     },
     nullptr,
     nullptr,
     {"ok", "ok", "ok", "ok", "ok", "ok"}},
    // A restart longer than the presence expiry: the command is sent once the
    // node is no longer heard. The import's writes are not confirmed, so it
    // cannot tell they were lost.
    {"nodes_rebooting",
     holdReplies,
     [](MatrixBench& b) { b.rebootAll(2000ms); },
     [](MatrixBench& b, unsigned node) { return !b.iface.isDeviceConnected(node); },
     endReplyFaults,
     {"not-connected", "timeout", "timeout", "empty", "ok", "read-timed-out"}},
    {"adapter_unplugged",
     holdReplies,
     [](MatrixBench& b) { b.sim.unplug(); },
     [](MatrixBench& b, unsigned) { return !b.iface.isRunning(); },
     [](MatrixBench& b) {
         b.clearReplyFaults();
         b.sim.replug();
         b.iface.closeInterface();
         EXPECT_TRUE(b.iface.initInterface(b.sim.portName()));
     },
     {"not-running", "timeout then not-running", "timeout", "empty", "failed", "read-timed-out"}},
};

class FaultMatrix : public ::testing::TestWithParam<MatrixRow> {};

TEST_P(FaultMatrix, EachOperationEndsAsItsCellSaysAndWorksAgainAfterwards) {
    const MatrixRow& row = GetParam();
    MatrixBench bench;
    ASSERT_TRUE(bench.open());
    for (int op = 0; op < kMatrixOps; ++op) {
        const std::size_t at = static_cast<std::size_t>(op);
        auto& [major, minor, patch] = bench.version[at];
        ASSERT_EQ(bench.driver(op).getFirmwareVersion(&major, &minor, &patch), RET_OK);
        if (op == kExportOp || op == kImportOp) {
            bench.document[at] = bench.driver(op).exportConfiguration();
            ASSERT_FALSE(bench.document[at].empty());
        }
    }

    if (row.before) row.before(bench);
    {
        SCOPED_TRACE(row.name);
        runMatrixOps(bench, row, true);
    }
    if (row.end) row.end(bench);
    ASSERT_TRUE(test::eventually([&] { return bench.ready(); }, 5000ms)) << "the bus did not come back";
    runMatrixOps(bench, row, false);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(kMatrixRows),
                         [](const ::testing::TestParamInfo<MatrixRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kinetra::sim
