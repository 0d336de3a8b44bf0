// The off-axis calibration through the whole stack (proxy, adapter transport,
// pseudo-terminal, simulated chips): what it prints before and after is a real
// improvement, and that improvement outlives a power cycle only when the chip
// stored it. The simulated shaft turns with the procedure's own clock, which
// the test drives, so every sample's angle is exact however loaded the machine.

#include "kinetra_sim/driver_node.h"
#include "kinetra_sim/encoder_node.h"
#include "kinetra_sim/simulator.h"

#include <kinetra/driver.h>
#include <kinetra/usb_interface.h>
#include <kinetra/vorlex.h>

#include "devices/protocol/motor_controller_protocol.h"
#include "support/manual_clock.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using kinetra::OffAxisCalibrationOptions;
using kinetra::OffAxisCalibrationResult;
using kinetra::OffAxisStage;
using kinetra::sim::NodeKind;
using kinetra::sim::Simulator;
using kinetra::test::eventually;

constexpr unsigned kDriverNode = 1;
constexpr unsigned kEncoderNode = 4;
// A turn a second: each 2.5 s measurement spans well over a whole revolution
// between two multiples of 360 degrees, wherever the shaft starts.
constexpr double kDegreesPerSecond = 360.0;

/// The procedure's clock, whose pauses also turn the shaft: after each one the
/// shaft stands where a constant rate has brought it by then. Reads happen
/// between pauses, at a fixed procedure time, so they see the exact angle the
/// procedure expects whatever they cost in real time.
class ShaftClock final : public kinetra::ProcedureClock {
public:
    explicit ShaftClock(std::function<void(double degrees)> turn) : turn_(std::move(turn)) { turn_(0.0); }

    clock::time_point now() override { return manual_.now(); }
    void sleepFor(clock::duration duration) override {
        manual_.sleepFor(duration);
        turn_(kDegreesPerSecond * std::chrono::duration<double>(manual_.now().time_since_epoch()).count());
    }
    clock::duration replyWait(clock::duration bound) override { return manual_.replyWait(bound); }
    void replyWaitExpired(clock::duration bound) override { manual_.replyWaitExpired(bound); }

private:
    kinetra::test::ManualClock manual_;
    std::function<void(double)> turn_;
};

/// The numbers behind the printed "... error: X SD:Y" lines, in order.
std::vector<double> printedErrors(const std::string& printed) {
    std::vector<double> errors;
    std::istringstream lines(printed);
    for (std::string line; std::getline(lines, line);) {
        const auto sd = line.find(" SD:");
        if (sd == std::string::npos) continue;
        const auto colon = line.rfind(':', sd);
        if (colon == std::string::npos) continue;
        errors.push_back(std::stod(line.substr(colon + 1, sd - colon - 1)));
    }
    return errors;
}

/// Half the peak-to-peak angle error over one turn, the shaft set to each whole
/// degree in turn: the metric the calibration prints, taken independently of it.
double errorOverATurn(const std::function<void(double)>& turn, const std::function<bool(double*)>& read) {
    double lo = INFINITY, hi = -INFINITY;
    double previous = 0.0, unwrapped = 0.0;
    for (int degree = 0; degree < 360; ++degree) {
        turn(degree);
        double angle = 0.0;
        if (!read(&angle)) {
            ADD_FAILURE() << "no angle at " << degree << " degrees";
            return NAN;
        }
        // Readings within one turn wrap at 360: follow the shortest step.
        unwrapped = degree == 0 ? angle : unwrapped + std::remainder(angle - previous, 360.0);
        previous = angle;
        lo = std::min(lo, unwrapped - degree);
        hi = std::max(hi, unwrapped - degree);
    }
    return (hi - lo) / 2.0;
}

class OffAxisEndToEnd : public ::testing::Test {
protected:
    OffAxisEndToEnd() : sim({{NodeKind::Driver, kDriverNode}, {NodeKind::Encoder, kEncoderNode}}) {
        sim.start();
        sim.registerAsAdapter();
    }
    ~OffAxisEndToEnd() override { iface.closeInterface(); }

    void SetUp() override {
        ASSERT_TRUE(iface.initInterface(sim.portName()));
        ASSERT_TRUE(eventually(
            [&] {
                return iface.isRunning() && iface.isDeviceConnected(kDriverNode) &&
                       iface.isDeviceConnected(kEncoderNode);
            },
            3000ms));
    }

    /// Power-cycles `node` once it has taken every frame sent to it (its
    /// answer to `read` comes after them), and waits until it is heard again.
    void powerCycle(unsigned node, const std::function<bool(double*)>& read) {
        double angle = 0.0;
        ASSERT_TRUE(read(&angle));
        sim.node(node).reboot(300ms);
        std::this_thread::sleep_for(350ms);
        ASSERT_TRUE(eventually([&] { return iface.isDeviceConnected(node); }, 3000ms));
    }

    /// Sets the encoder's shaft to `degrees`; it stays there.
    void turnEncoder(double degrees) {
        sim.nodeAs<kinetra::sim::EncoderNode>(kEncoderNode).withModel([&](kinetra::sim::EncoderModel& model) {
            model.setShaftRate(0.0);
            model.setShaftAngle(degrees);
        });
    }
    /// Turns the driver's idle motor to `degrees`.
    void turnMotor(double degrees) {
        sim.nodeAs<kinetra::sim::DriverNode>(kDriverNode).withFirmware([&](kinetra::sim::MotorFirmware& firmware) {
            firmware.motor().turnRotorTo(degrees / 360.0);
        });
    }

    /// Runs `calibrate` on `clock` with what it prints captured.
    struct PrintedRun {
        OffAxisCalibrationResult result;
        std::string printed;
        std::vector<double> errors;
    };
    static PrintedRun printedRun(const std::function<OffAxisCalibrationResult()>& calibrate) {
        PrintedRun run;
        testing::internal::CaptureStdout();
        run.result = calibrate();
        run.printed = testing::internal::GetCapturedStdout();
        run.errors = printedErrors(run.printed);
        return run;
    }

    Simulator sim;
    USBInterface iface;
};

// The encoder stores its table: the printed error falls threefold, and a power
// cycle keeps the improvement.
TEST_F(OffAxisEndToEnd, EncoderImprovesThreefoldAndKeepsItAfterThePowerCycle) {
    Vorlex encoder(kEncoderNode, &iface);
    const auto turn = [&](double degrees) { turnEncoder(degrees); };
    const auto read = [&](double* degrees) {
        float value = 0.0f;
        if (encoder.getAbsoluteAngle(&value) != RET_OK) return false;
        *degrees = value;
        return true;
    };
    const double raw = errorOverATurn(turn, read);

    ShaftClock clock(turn);
    OffAxisCalibrationOptions options;
    options.clock = &clock;
    const PrintedRun run = printedRun([&] { return encoder.runMAxxxOffAxisCalibration(kDegreesPerSecond, options); });

    ASSERT_TRUE(run.result.calibrated) << run.printed << run.result.reason;
    EXPECT_TRUE(run.result.stored);
    ASSERT_EQ(run.errors.size(), 3u) << run.printed;
    EXPECT_NEAR(run.errors[0], raw, 0.02 * raw) << "exact samples: the printed error is the chip's";
    EXPECT_GE(run.errors[0], 3.0 * run.errors[2]) << run.printed;

    powerCycle(kEncoderNode, read);
    const double after_cycle = errorOverATurn(turn, read);
    EXPECT_LE(after_cycle * 3.0, run.errors[0]) << "before " << run.errors[0] << ", after the power cycle " << after_cycle;
}

// The driver's MA600 motor encoder, stopped before its store: the printed error
// still falls threefold, but a power cycle brings the old error back.
TEST_F(OffAxisEndToEnd, DriverImprovesThreefoldButLosesItWithoutTheStore) {
    Driver driver(kDriverNode, &iface);
    ASSERT_EQ(driver.configureMotorEncoder(kinetra::protocol::motor::kEncoderTypeMA600, 16384, false), RET_OK);
    const auto turn = [&](double degrees) { turnMotor(degrees); };
    const auto read = [&](double* degrees) {
        float turns = 0.0f;
        if (driver.getMotorPosition(&turns) != RET_OK) return false;
        *degrees = turns * 360.0;
        return true;
    };

    ShaftClock clock(turn);
    std::atomic<bool> cancel{false};
    OffAxisCalibrationOptions options;
    options.clock = &clock;
    options.cancel = &cancel;
    options.progress = [&](OffAxisStage stage, unsigned) {
        if (stage == OffAxisStage::Store) cancel = true;
    };
    const PrintedRun run =
        printedRun([&] { return driver.runMAxxxOffAxisCalibration(false, kDegreesPerSecond, options); });

    ASSERT_TRUE(run.result.table_written) << run.printed;
    EXPECT_FALSE(run.result.stored);
    EXPECT_FALSE(run.result.calibrated);
    EXPECT_EQ(run.result.chip, kinetra::OffAxisChipState::Compensated);
    ASSERT_EQ(run.errors.size(), 3u) << run.printed;
    EXPECT_GE(run.errors[0], 3.0 * run.errors[2]) << run.printed;

    powerCycle(kDriverNode, read);
    ASSERT_EQ(driver.configureMotorEncoder(kinetra::protocol::motor::kEncoderTypeMA600, 16384, false), RET_OK);
    const double after_cycle = errorOverATurn(turn, read);
    EXPECT_NEAR(after_cycle, run.errors[0], 0.02 * run.errors[0]) << "the error as it was before the run";
}

}  // namespace
