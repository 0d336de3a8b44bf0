// The calibration against the simulated off-axis chip, in simulated time: the
// correct table must cut the error threefold, and the classic mistakes (wrong
// sign, sine and cosine swapped, table off by one entry) must do visibly worse;
// only a stored table survives a power cycle.

#include "calibration/offaxis_procedure.h"
#include "kinetra_sim/encoder_model.h"
#include "kinetra_sim/motor_firmware.h"
#include "kinetra_sim/offaxis_sensor.h"
#include "support/manual_clock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <sstream>
#include <utility>

namespace kinetra::calibration {
namespace {

using sim::EncoderModel;
constexpr double kRate = 360.0;  // degrees per second

/// A Vorlex's chip as the calibration sees it, in the manual clock's time.
class ModelSensor final : public SensorLink {
public:
    ModelSensor(EncoderModel& model, test::ManualClock& clock) : model_(model), clock_(clock) {}
    uint8_t encoderType() override { return 9; }
    ret_status_t readAngle(double* degrees) override {
        follow();
        *degrees = model_.absoluteAngle();
        clock_.advance(std::chrono::milliseconds(1));
        return RET_OK;
    }
    void writeRegister(uint8_t reg, uint8_t value) override {
        follow();
        model_.registers().write(reg, value);
    }
    bool readsWithinOneTurn() const override { return true; }

private:
    void follow() {
        const auto now = clock_.now();
        model_.advance(std::chrono::duration<double>(now - last_).count());
        last_ = now;
    }
    EncoderModel& model_;
    test::ManualClock& clock_;
    ProcedureClock::clock::time_point last_{};
};

struct Calibrated {
    OffAxisCalibrationResult result;
    OffAxisSamples second;  // the samples the fit was made from
};

Calibrated calibrate(EncoderModel& model, const std::atomic<bool>* cancel = nullptr) {
    model.setShaftRate(kRate);
    test::ManualClock clock;
    ModelSensor sensor(model, clock);
    Calibrated c;
    OffAxisCalibrationOptions options;
    options.clock = &clock;
    options.cancel = cancel;
    options.samples = [&](const OffAxisSamples& s) {
        if (s.measurement == 2) c.second = s;
    };
    std::ostringstream out;
    c.result = OffAxisProcedure(sensor, static_cast<float>(kRate), options, out).run();
    return c;
}

/// Half peak-to-peak error over two turns of the shaft, as the chip reports it.
double residual(const EncoderModel& model) {
    std::vector<double> measured, expected;
    for (int i = 0; i < 720; ++i) {
        const double shaft = i;
        measured.push_back(shaft + sim::offAxisError(shaft - 360.0 * std::floor(shaft / 360.0), model.registers()));
        expected.push_back(shaft);
    }
    return errorMetric(measured, expected).half_peak_to_peak;
}

void writeTable(EncoderModel& model, const std::array<uint8_t, 32>& bytes) {
    for (unsigned k = 0; k < 32; ++k) model.registers().write(static_cast<uint8_t>(32 + k), bytes[k]);
}

TEST(OffAxisSensor, CalibrationCutsTheErrorThreefold) {
    EncoderModel model;
    model.setAngleError(sim::offAxisError);
    const double before = residual(model);
    const Calibrated c = calibrate(model);
    ASSERT_TRUE(c.result.stored);
    EXPECT_EQ(c.result.bias_current, 86) << c.result.errors[0].half_peak_to_peak;
    EXPECT_LT(c.result.errors[1].half_peak_to_peak, c.result.errors[0].half_peak_to_peak);
    EXPECT_LE(3.0 * c.result.errors[2].half_peak_to_peak, c.result.errors[1].half_peak_to_peak);
    EXPECT_LE(3.0 * residual(model), before);
}

TEST(OffAxisSensor, MistakenTablesDoAtLeastTwiceWorse) {
    EncoderModel model;
    model.setAngleError(sim::offAxisError);
    const Calibrated c = calibrate(model);
    const double correct = residual(model);

    const auto bytesOf = [](const Table& compensation) {
        std::array<uint8_t, 32> bytes{};
        for (unsigned k = 0; k < 32; ++k) bytes[k] = compensationByte(compensation[k]);
        return bytes;
    };
    Table negated{};
    for (unsigned k = 0; k < 32; ++k) negated[k] = -c.result.compensation[k];
    Harmonics swapped = fitHarmonics(c.second.measured, errorMetric(c.second.measured, c.second.expected).centred);
    for (unsigned k = 0; k < 8; k += 2) std::swap(swapped[k], swapped[k + 1]);
    Table swapped_table{};
    ASSERT_TRUE(averagedModel(swapped, c.second.measured, &swapped_table));
    for (double& v : swapped_table) v = -v;
    std::array<uint8_t, 32> shifted = c.result.compensation_bytes;
    std::rotate(shifted.begin(), shifted.begin() + 1, shifted.end());

    const std::pair<const char*, std::array<uint8_t, 32>> mistakes[] = {
        {"wrong sign", bytesOf(negated)}, {"sine and cosine swapped", bytesOf(swapped_table)}, {"shifted", shifted}};
    for (const auto& [name, bytes] : mistakes) {
        writeTable(model, bytes);
        EXPECT_GE(residual(model), 2.0 * correct) << name;
    }
}

TEST(OffAxisSensor, OnlyAStoredTableSurvivesAPowerCycle) {
    EncoderModel stored;
    stored.setAngleError(sim::offAxisError);
    calibrate(stored);
    const double calibrated = residual(stored);
    stored.reboot();
    EXPECT_EQ(residual(stored), calibrated);

    // Cancelled at the store: the table is in the chip, but not kept.
    EncoderModel unstored;
    unstored.setAngleError(sim::offAxisError);
    const double raw = residual(unstored);
    std::atomic<bool> cancel{false};
    OffAxisCalibrationResult result;
    {
        unstored.setShaftRate(kRate);
        test::ManualClock clock;
        ModelSensor sensor(unstored, clock);
        OffAxisCalibrationOptions options;
        options.clock = &clock;
        options.cancel = &cancel;
        options.progress = [&](OffAxisStage stage, unsigned) { cancel = cancel || stage == OffAxisStage::Store; };
        std::ostringstream out;
        result = OffAxisProcedure(sensor, static_cast<float>(kRate), options, out).run();
    }
    ASSERT_TRUE(result.table_written);
    ASSERT_FALSE(result.stored);
    EXPECT_LE(3.0 * residual(unstored), raw);
    unstored.reboot();
    EXPECT_EQ(residual(unstored), raw);
}

TEST(OffAxisSensor, DriverChipsErrOnlyAsMagneticEncodersAndKeepWhatTheyStored) {
    sim::MotorFirmware firmware;
    firmware.sensor(false).write(32, 0x10);  // 1.4 degrees of compensation at the chip's zero
    EXPECT_EQ(firmware.sensedPosition(false, 0), 0.0f) << "not a magnetic chip";
    for (const uint8_t type : {4, 9}) EXPECT_NEAR(firmware.sensedPosition(false, type), 16.0 / 4096, 1e-6);

    for (const bool output : {false, true}) {
        firmware.sensor(output).write(32, 0x10);
        firmware.sensor(output).write(2, 86);
    }
    firmware.sensor(true).write(234, 0);
    firmware.sensor(true).write(234, 1);
    firmware.restart();
    EXPECT_EQ(firmware.sensor(false).read(32), 0);
    EXPECT_EQ(firmware.sensor(false).read(2), 0);
    EXPECT_EQ(firmware.sensor(true).read(32), 0x10);
    EXPECT_EQ(firmware.sensor(true).read(2), 86);
}

}  // namespace
}  // namespace kinetra::calibration
