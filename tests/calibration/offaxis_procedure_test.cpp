// The calibration run through a scripted sensor and the manual clock: what it
// writes in which order, what it prints, and how it ends when reads fail, the
// shaft turns too little, or the caller cancels. Runs in milliseconds.

#include "calibration/offaxis_procedure.h"

#include <gtest/gtest.h>

#include <algorithm>
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
        double t = std::chrono::duration<double>(clock_.now().time_since_epoch()).count();
        if (stopped_at >= 0.0) t = std::min(t, stopped_at);
        const double shaft = start + rate_ * t;
        double angle = shaft + 5.0 * std::sin(shaft * M_PI / 180.0);
        if (within_one_turn_) angle -= 360.0 * std::floor(angle / 360.0);
        *degrees = angle;
        clock_.advance(1ms);  // one exchange on the bus
        return RET_OK;
    }
    void writeRegister(uint8_t reg, uint8_t value) override {
        writes.emplace_back(reg, value);
        if (on_write) on_write();
    }
    bool readsWithinOneTurn() const override { return within_one_turn_; }

    std::vector<Write> writes;
    std::function<bool()> failing;
    std::function<void()> on_write;
    ProcedureClock::clock::duration failure_cost = 205ms;
    double start = 20.0;
    double stopped_at = -1.0;  // seconds on the clock when the shaft stops; never when negative
    unsigned reads = 0;

    /// Stops the shaft from now on.
    void stop() { stopped_at = std::chrono::duration<double>(clock_.now().time_since_epoch()).count(); }

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
        EXPECT_EQ(r.result.failure, OffAxisFailure::Incompatible);
        EXPECT_NE(r.result.reason.find(type == 0 ? "could not be read" : "of type " + std::to_string(type)),
                  std::string::npos)
            << r.result.reason;
        const std::string unchanged = "; the chip is unchanged";
        EXPECT_EQ(r.result.reason.substr(r.result.reason.size() - unchanged.size()), unchanged);
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
    EXPECT_TRUE(r.result.calibrated);
    EXPECT_EQ(r.result.failure, OffAxisFailure::None);
    EXPECT_EQ(r.result.chip, OffAxisChipState::BiasCurrent);
    EXPECT_EQ(r.result.reason, "");
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
    // A shaft turning backwards, with a speed that says so, calibrates alike.
    for (const double rate : {360.0, -360.0}) {
        SCOPED_TRACE(rate);
        test::ManualClock clock;
        ScriptedSensor sensor(clock, 9, rate);
        const RunOutcome r = run(sensor, clock, rate);
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
        EXPECT_TRUE(r.result.calibrated);
        EXPECT_EQ(r.result.chip, OffAxisChipState::Stored);
        EXPECT_EQ(r.result.table_entries_written, 32);
        EXPECT_EQ(r.result.measurements, 3);
    }
}

TEST(OffAxisProcedure, SamplesAreTimedFromTheFirstAndPacedAfterEachRead) {
    test::ManualClock clock;
    ScriptedSensor sensor(clock, 4, 360.0);
    std::vector<OffAxisSamples> measurements;
    unsigned last_sample = 0;
    OffAxisCalibrationOptions options;
    options.samples = [&](const OffAxisSamples& s) { measurements.push_back(s); };
    // An observer that takes 2 ms per sample: measurement 1 pauses 5 ms after
    // it, the others only until 5 ms after the read returned.
    options.progress = [&](OffAxisStage, unsigned sample) {
        last_sample = std::max(last_sample, sample);
        if (sample > 0) clock.advance(2ms);
    };
    run(sensor, clock, 360.0, options);
    ASSERT_EQ(measurements.size(), 2u);
    EXPECT_EQ(last_sample, 500u);
    // A 1 ms read, the observer's 2 ms, then the pause.
    const double steps[] = {0.008 * 360.0, 0.006 * 360.0};
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
        ProcedureClock::clock::time_point last_success{};
        OffAxisCalibrationOptions options;
        options.progress = [&](OffAxisStage stage, unsigned) {
            const bool measuring = stage == OffAxisStage::Measurement1 || stage == OffAxisStage::Measurement2;
            if (measuring) last_success = clock.now();  // a measurement's start, or a sample
        };
        const RunOutcome r = run(sensor, clock, 360.0, options);
        // Two seconds from the last sample, whatever the failures cost and
        // whenever the measurement began.
        const auto silent = clock.now() - last_success;
        EXPECT_GE(silent, 2s);
        EXPECT_LT(silent, 2s + c.cost + 5ms + 1ms);
        EXPECT_TRUE(r.result.read_timed_out);
        EXPECT_FALSE(r.result.completed);
        EXPECT_FALSE(r.result.calibrated);
        EXPECT_EQ(r.result.failure, OffAxisFailure::ReadTimedOut);
        EXPECT_NE(r.result.reason.find("no angle read succeeded for 2 s in measurement"), std::string::npos);
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

// Fault pinned: a shaft that did not turn, or turned the wrong way or at the
// wrong rate, made a "completed" run that wrote a bias current (207, "BCT limit
// Exceeded", for a still shaft) and a table fitted to nothing; one too short of
// a whole turn ended "Done." without a table, and each looked like success.
TEST(OffAxisProcedure, SamplesThatCannotCalibrateEndTheRunAsFailedWithTheReason) {
    struct Case {
        const char* name;
        double shaft_rate, speed;           // what turns, and what the caller says
        std::function<void(ScriptedSensor&, OffAxisStage)> at_stage;  // when set, at each stage's start
        OffAxisFailure failure;
        std::size_t writes;                 // the reset is 34, the bias current 35, the table 67
        OffAxisChipState chip;
        bool completed;
        const char* reason;
    };
    const auto stop_at_measurement_3 = [](ScriptedSensor& sensor, OffAxisStage stage) {
        if (stage == OffAxisStage::Measurement3) sensor.stop();
    };
    const char* const kCleared =
        "; the chip's bias current trimming and compensation table are cleared, not stored: a power cycle brings back "
        "what the chip stored before";
    const Case cases[] = {
        {"a still shaft", 0.0, 360.0, nullptr, OffAxisFailure::ShaftStill, 34, OffAxisChipState::Cleared, false,
         "the measured angle did not advance in measurement 1 (0.0 degrees where 360.0 deg/s covers"},
        {"the other way", -360.0, 360.0, nullptr, OffAxisFailure::WrongDirection, 34, OffAxisChipState::Cleared,
         false, "against the sign of the speed"},
        {"twice as fast", 720.0, 360.0, nullptr, OffAxisFailure::WrongRate, 34, OffAxisChipState::Cleared, false,
         "it does not turn at the given speed"},
        {"too slow for a whole turn", 100.0, 100.0, nullptr, OffAxisFailure::TooSlow, 34, OffAxisChipState::Cleared,
         false, "at 100.0 deg/s measurement 1 covers 299.4 degrees, less than the whole turn it needs"},
        {"too fast to resolve the eighth harmonic", 4000.0, 4000.0, nullptr, OffAxisFailure::TooFast, 34,
         OffAxisChipState::Cleared, false, "leave a gap of 2"},
        {"stopped before the third measurement", 360.0, 360.0, stop_at_measurement_3, OffAxisFailure::ShaftStill, 67,
         OffAxisChipState::Compensated, false,
         "did not advance in measurement 3 (0.0 degrees where 360.0 deg/s covers 1077.8): the shaft does not turn; "
         "the chip holds the new bias current trimming 0 and the new compensation table, not stored"},
        {"a turn, but none between two multiples of 360", 121.0, 121.0, nullptr, OffAxisFailure::NoWholeTurn, 35,
         OffAxisChipState::BiasCurrent, true,
         "measurement 2 spans no whole turn between two multiples of 360 degrees, so no compensation table was "
         "written, measured or stored: turn the shaft further (a higher speed); the chip holds the new bias current "
         "trimming 0 and a cleared compensation table, not stored"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::ManualClock clock;
        ScriptedSensor sensor(clock, 9, c.shaft_rate);
        OffAxisCalibrationOptions options;
        if (c.at_stage) {
            options.progress = [&](OffAxisStage stage, unsigned sample) {
                if (sample == 0) c.at_stage(sensor, stage);
            };
        }
        const RunOutcome r = run(sensor, clock, c.speed, options);
        EXPECT_FALSE(r.result.calibrated);
        EXPECT_EQ(r.result.failure, c.failure);
        EXPECT_EQ(r.result.completed, c.completed);
        EXPECT_FALSE(r.result.stored);
        EXPECT_EQ(sensor.writes.size(), c.writes) << "nothing written after the samples that cannot calibrate";
        EXPECT_EQ(r.result.chip, c.chip);
        EXPECT_NE(r.result.reason.find(c.reason), std::string::npos) << r.result.reason;
        if (c.chip == OffAxisChipState::Cleared) {
            EXPECT_EQ(r.result.reason.substr(r.result.reason.size() - std::string(kCleared).size()), kCleared);
        }
        const std::string why = r.result.reason.substr(0, r.result.reason.find("; the chip"));
        if (c.completed) {
            // The printed lines stay; the result carries the truth.
            EXPECT_EQ(r.printed.substr(r.printed.size() - 6), "Done.\n");
        } else {
            EXPECT_NE(r.printed.find("Calibration stopped: " + why + ".\n"), std::string::npos) << r.printed;
            EXPECT_EQ(r.printed.find("Done."), std::string::npos);
            EXPECT_EQ(r.printed.find("BCT limit Exceeded"), std::string::npos);
        }
    }
}

TEST(OffAxisProcedure, CancellingStopsBeforeTheNextSampleOrWrite) {
    // Fault pinned: a stop after the start said the chip kept what was written
    // last, while the reset had already cleared its trimming.
    struct Case {
        OffAxisStage stage;  // the stop comes at this stage's sample, or after `after_writes` writes
        unsigned at_sample;
        std::size_t after_writes;
        std::size_t writes;
        OffAxisChipState chip;
        const char* reason;
    };
    constexpr std::size_t kAtSample = 0;
    const Case cases[] = {
        {OffAxisStage::Reset, 0, kAtSample, 0, OffAxisChipState::Unchanged,
         "stopped during the reset; the chip is unchanged"},
        {OffAxisStage::Reset, 0, 3, 3, OffAxisChipState::Cleared,
         "stopped during the reset; the chip's bias current trimming and compensation table are partly cleared"},
        {OffAxisStage::Measurement1, 10, kAtSample, 34, OffAxisChipState::Cleared,
         "stopped during measurement 1; the chip's bias current trimming and compensation table are cleared, not "
         "stored"},
        {OffAxisStage::Measurement2, 499, kAtSample, 35, OffAxisChipState::BiasCurrent,
         "stopped during measurement 2; the chip holds the new bias current trimming 0 and a cleared compensation "
         "table, not stored"},
        {OffAxisStage::Compensation, 0, 45, 45, OffAxisChipState::Compensated,
         "stopped during the compensation table; the chip holds the new bias current trimming 0 and 10 of the 32 new "
         "compensation table entries, the others cleared, not stored"},
        {OffAxisStage::Store, 0, kAtSample, 67, OffAxisChipState::Compensated,
         "stopped during the store; the chip holds the new bias current trimming 0 and the new compensation table, "
         "not stored"}};
    for (const Case& c : cases) {
        test::ManualClock clock;
        ScriptedSensor sensor(clock, 9, 360.0);
        std::atomic<bool> cancel{false};
        OffAxisCalibrationOptions options;
        options.cancel = &cancel;
        if (c.after_writes == kAtSample) {
            options.progress = [&](OffAxisStage stage, unsigned sample) {
                if (stage == c.stage && sample == c.at_sample) cancel = true;
            };
        } else {
            sensor.on_write = [&] {
                if (sensor.writes.size() == c.after_writes) cancel = true;
            };
        }
        const RunOutcome r = run(sensor, clock, 360.0, options);
        EXPECT_TRUE(r.result.cancelled);
        EXPECT_EQ(r.result.failure, OffAxisFailure::Cancelled);
        EXPECT_EQ(r.result.chip, c.chip);
        EXPECT_EQ(r.result.reason.find(c.reason), 0u) << r.result.reason;
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
