// The calibration run through a scripted sensor and the manual clock: what it
// writes in which order, what it prints, and how it ends when reads fail, the
// shaft turns too little, or the caller cancels. Runs in milliseconds.

#include "calibration/offaxis_procedure.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/manual_clock.h"

namespace kinetra::calibration {
namespace {

using namespace std::chrono_literals;
using Write = std::pair<unsigned, unsigned>;

/// A chip on a shaft that turns at `rate` degrees per second, with a 5-degree
/// first-harmonic error; reads fail while `failing` and then cost
/// `failure_cost`.
class ScriptedSensor final : public SensorLink {
public:
    ScriptedSensor(test::ManualClock& clock, uint8_t type, double rate, bool within_one_turn = false)
        : clock_(clock), type_(type), rate_(rate), within_one_turn_(within_one_turn) {}

    uint8_t encoderType() override { return type_; }
    ret_status_t readAngle(double* degrees) override {
        ++reads;
        if (failing && failing()) {
            clock_.advance(failure_cost);
            return RET_TIMEOUT;
        }
        const double t = std::chrono::duration<double>(clock_.now().time_since_epoch()).count();
        const double shaft = start + rate_ * t;
        double angle = shaft + 5.0 * std::sin(shaft * M_PI / 180.0);
        if (within_one_turn_) angle -= 360.0 * std::floor(angle / 360.0);
        *degrees = angle;
        clock_.advance(1ms);  // one exchange on the bus
        return RET_OK;
    }
    void writeRegister(uint8_t reg, uint8_t value) override { writes.emplace_back(reg, value); }
    bool readsWithinOneTurn() const override { return within_one_turn_; }

    std::vector<Write> writes;
    std::function<bool()> failing;
    ProcedureClock::clock::duration failure_cost = 205ms;
    double start = 20.0;
    unsigned reads = 0;

private:
    test::ManualClock& clock_;
    const uint8_t type_;
    const double rate_;
    const bool within_one_turn_;
};

struct RunOutcome {
    OffAxisCalibrationResult result;
    std::string printed;
};

RunOutcome run(ScriptedSensor& sensor, test::ManualClock& clock, double rate, OffAxisCalibrationOptions options = {}) {
    options.clock = &clock;
    std::ostringstream out;
    RunOutcome r;
    r.result = OffAxisProcedure(sensor, static_cast<float>(rate), options, out).run();
    r.printed = out.str();
    return r;
}

std::vector<Write> resetWrites() {
    std::vector<Write> writes = {{2, 0}};
    for (unsigned reg = 32; reg <= 63; ++reg) writes.emplace_back(reg, 0);
    writes.emplace_back(3, 1);
    return writes;
}

TEST(OffAxisProcedure, IncompatibleOrUnreadableTypeWritesNothing) {
    for (const uint8_t type : {0, 1, 5, 10, 255}) {
        test::ManualClock clock;
        ScriptedSensor sensor(clock, type, 360.0);
        const RunOutcome r = run(sensor, clock, 360.0);
        EXPECT_EQ(r.printed,
                  "Incompatible encoder has been configured. Please use "
                  "either MA702, MA732 or MA600\n");
        EXPECT_TRUE(sensor.writes.empty());
        EXPECT_EQ(sensor.reads, 0u);
        EXPECT_FALSE(r.result.compatible);
    }
}

TEST(OffAxisProcedure, MA7xxGetsResetAndBiasCurrentButNoTableOrStore) {
    test::ManualClock clock;
    ScriptedSensor sensor(clock, 4, 360.0);
    const RunOutcome r = run(sensor, clock, 360.0);
    std::vector<Write> expected = resetWrites();
    expected.emplace_back(2, 0);  // a 5-degree error needs no bias current
    EXPECT_EQ(sensor.writes, expected);
    // Six significant digits, straight after each label.
    std::ostringstream lines;
    lines << "Got sample points\nCurrent error is:" << r.result.errors[0].half_peak_to_peak
          << " SD:" << r.result.errors[0].standard_deviation
          << "\nCurrent error after BCT optimisation is:" << r.result.errors[1].half_peak_to_peak
          << " SD:" << r.result.errors[1].standard_deviation << "\nDone.\n";
    EXPECT_EQ(r.printed, lines.str());
    EXPECT_EQ(r.printed.find("Got sample points\nCurrent error is:4.99998 SD:3.5355"), 0u) << r.printed;
    EXPECT_EQ(r.result.measurements, 2);
    EXPECT_NEAR(r.result.errors[0].half_peak_to_peak, 5.0, 0.01);
    EXPECT_NEAR(r.result.errors[0].standard_deviation, 5.0 / std::sqrt(2.0), 0.1);
    EXPECT_TRUE(r.result.completed);
    EXPECT_FALSE(r.result.table_written);
    EXPECT_FALSE(r.result.stored);
    EXPECT_EQ(sensor.reads, 1000u);
    // Every pause: 35 register writes at 100 ms, and 5 ms per sample.
    unsigned register_pauses = 0, sample_pauses = 0;
    for (auto pause : clock.sleeps()) (pause == 100ms ? register_pauses : sample_pauses) += 1;
    EXPECT_EQ(register_pauses, 35u);
    EXPECT_EQ(sample_pauses, 1000u);
}

TEST(OffAxisProcedure, MA600WritesTheNegatedModelAndStoresIt) {
    test::ManualClock clock;
    ScriptedSensor sensor(clock, 9, 360.0);
    const RunOutcome r = run(sensor, clock, 360.0);
    ASSERT_EQ(sensor.writes.size(), 34u + 1 + 32 + 2);
    EXPECT_EQ(std::vector<Write>(sensor.writes.begin(), sensor.writes.begin() + 34), resetWrites());
    EXPECT_EQ(sensor.writes[34], Write(2, 0));
    for (unsigned k = 0; k < 32; ++k) {
        EXPECT_EQ(sensor.writes[35 + k], Write(32 + k, r.result.compensation_bytes[k]));
        EXPECT_EQ(r.result.compensation_bytes[k], compensationByte(r.result.compensation[k]));
        // The chip reads about 5 sin(angle) too much; the table takes it off again.
        EXPECT_NEAR(r.result.compensation[k], -5.0 * std::sin(k * 11.25 * M_PI / 180.0), 0.3) << k;
    }
    EXPECT_EQ(sensor.writes[67], Write(234, 0));
    EXPECT_EQ(sensor.writes[68], Write(234, 1));
    EXPECT_EQ(clock.sleeps().back(), 100ms);
    EXPECT_EQ(clock.sleeps()[clock.sleeps().size() - 2], 1000ms);
    const char* lines[] = {"Got sample points\n",
                           "Current error is:",
                           "Current error after BCT optimisation is:",
                           "Current error after BCT optimisation and Harmonic Compensation is:",
                           "Saving configuration to MA600 IC.\n",
                           "Done.\n"};
    std::size_t at = 0;
    for (const char* line : lines) {
        at = r.printed.find(line, at);
        EXPECT_NE(at, std::string::npos) << line << " in\n" << r.printed;
    }
    EXPECT_TRUE(r.result.stored);
    EXPECT_EQ(r.result.measurements, 3);
}

TEST(OffAxisProcedure, SamplesAreTimedFromTheFirstAndPacedAfterEachRead) {
    test::ManualClock clock;
    ScriptedSensor sensor(clock, 4, 360.0);
    std::vector<OffAxisSamples> measurements;
    unsigned last_sample = 0;
    OffAxisCalibrationOptions options;
    options.samples = [&](const OffAxisSamples& s) { measurements.push_back(s); };
    options.progress = [&](OffAxisStage, unsigned sample) { last_sample = std::max(last_sample, sample); };
    run(sensor, clock, 360.0, options);
    ASSERT_EQ(measurements.size(), 2u);
    EXPECT_EQ(last_sample, 500u);
    // A 1 ms read, then 5 ms of pause.
    const double steps[] = {0.006 * 360.0, 0.006 * 360.0};
    for (std::size_t m = 0; m < 2; ++m) {
        const auto& s = measurements[m];
        ASSERT_EQ(s.expected.size(), 500u);
        EXPECT_EQ(s.expected[0], 0.0);
        EXPECT_NEAR(s.expected[1], steps[m], 1e-6);
        EXPECT_NEAR(s.expected[499], 499 * steps[m], 1e-6);
    }
    EXPECT_EQ(measurements[0].measured[0], 0.0) << "measurement 1 counts from its first sample";
    EXPECT_NE(measurements[1].measured[0], 0.0) << "measurement 2 keeps the angles as read";
}

TEST(OffAxisProcedure, FailedReadsEndTheRunAfterTwoSecondsWithoutASuccess) {
    struct Case {
        ProcedureClock::clock::duration cost;  // a timed-out read, an absent node
        unsigned good_reads;                   // before the device stops answering
    };
    for (const Case c : {Case{205ms, 0}, Case{0ms, 0}, Case{205ms, 700}, Case{0ms, 250}}) {
        test::ManualClock clock;
        ScriptedSensor sensor(clock, 9, 360.0);
        sensor.failure_cost = c.cost;
        unsigned calls = 0;
        sensor.failing = [&] { return ++calls > c.good_reads; };
        const RunOutcome r = run(sensor, clock, 360.0);
        EXPECT_TRUE(r.result.read_timed_out);
        EXPECT_FALSE(r.result.completed);
        EXPECT_NE(r.printed.find("No angle reading for 2 s: the encoder does not "
                                 "answer. Calibration stopped.\n"),
                  std::string::npos)
            << r.printed;
        EXPECT_EQ(r.printed.find("Done."), std::string::npos);
        const std::size_t written = c.good_reads < 500 ? 34 : 35;
        EXPECT_EQ(sensor.writes.size(), written) << "nothing written after the reads stopped";
        EXPECT_LT(sensor.reads - c.good_reads, 450u);
    }
}

TEST(OffAxisProcedure, FailedReadsAreRetriedAndNotCounted) {
    test::ManualClock clock;
    ScriptedSensor sensor(clock, 4, 360.0);
    sensor.failure_cost = 205ms;
    unsigned calls = 0;
    sensor.failing = [&] { return ++calls % 3 == 0; };  // every third read times out
    const RunOutcome r = run(sensor, clock, 360.0);
    EXPECT_TRUE(r.result.completed);
    EXPECT_NEAR(r.result.errors[0].half_peak_to_peak, 5.0, 0.01) << "failed reads leave no samples";
    EXPECT_EQ(sensor.reads, 1499u);
}

TEST(OffAxisProcedure, ShaftShortOfAWholeRevolutionWritesNoTable) {
    test::ManualClock clock;
    ScriptedSensor sensor(clock, 9, 100.0);  // about 300 degrees per measurement
    const RunOutcome r = run(sensor, clock, 100.0);
    EXPECT_NE(r.printed.find("turn it further. No compensation table written.\n"), std::string::npos) << r.printed;
    EXPECT_EQ(r.printed.substr(r.printed.size() - 6), "Done.\n");
    EXPECT_EQ(r.printed.find("Saving"), std::string::npos);
    EXPECT_EQ(sensor.writes.size(), 35u) << "reset and bias current only";
    EXPECT_FALSE(r.result.table_computed);
    EXPECT_FALSE(r.result.stored);
    EXPECT_EQ(r.result.measurements, 2);
}

TEST(OffAxisProcedure, CancellingStopsBeforeTheNextSampleOrWrite) {
    struct Case {
        OffAxisStage stage;
        unsigned at_sample;
        std::size_t writes;
    };
    const Case cases[] = {{OffAxisStage::Reset, 0, 0},
                          {OffAxisStage::Measurement1, 10, 34},
                          {OffAxisStage::Measurement2, 499, 35},
                          {OffAxisStage::Store, 0, 67}};
    for (const Case& c : cases) {
        test::ManualClock clock;
        ScriptedSensor sensor(clock, 9, 360.0);
        std::atomic<bool> cancel{false};
        OffAxisCalibrationOptions options;
        options.cancel = &cancel;
        options.progress = [&](OffAxisStage stage, unsigned sample) {
            if (stage == c.stage && sample == c.at_sample) cancel = true;
        };
        const RunOutcome r = run(sensor, clock, 360.0, options);
        EXPECT_TRUE(r.result.cancelled);
        EXPECT_FALSE(r.result.completed);
        EXPECT_FALSE(r.result.stored);
        EXPECT_EQ(sensor.writes.size(), c.writes) << static_cast<int>(c.stage);
        EXPECT_NE(r.printed.find("Calibration cancelled.\n"), std::string::npos);
    }
}

TEST(OffAxisProcedure, AnglesWithinOneTurnAreUnwrappedBeforeTheMetric) {
    test::ManualClock clock;
    ScriptedSensor sensor(clock, 9, 360.0, true);
    sensor.start = 300.0;  // the first samples cross 0/360 at once
    const RunOutcome r = run(sensor, clock, 360.0);
    EXPECT_NEAR(r.result.errors[0].half_peak_to_peak, 5.0, 0.01);
    EXPECT_NEAR(r.result.errors[1].half_peak_to_peak, 5.0, 0.01);
    EXPECT_TRUE(r.result.stored);
}

}  // namespace
}  // namespace kinetra::calibration
