#pragma once
// Resetting the off-axis calibration stored in a magnetic angle sensor chip:
// zero the bias current trimming and the trimming settings, and on the MA600
// also the harmonic compensation coefficients, which the chip then stores.
// The chip needs time after each register write, hence the pauses, which go
// through the procedure clock like those of the calibration itself.

#include <kinetra/offaxis_calibration.h>
#include <kinetra/procedure_clock.h>

#include "calibration/offaxis_outcome.h"
#include "devices/motor_driver_commands.h"
#include "devices/protocol/sensor_chip.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <ostream>

namespace kinetra {

/// Resets the calibration of the chip `output` selects. `commands` may be null
/// (a proxy without implementation), which counts as an incompatible encoder.
/// Progress goes to `out`; the pauses to `clock`. Register writes are not
/// confirmed by the device. A set `cancel` stops it before its next write.
/// Returns whether the encoder was compatible, whether every register was
/// written (`completed`) or a cancel stopped it, and what the chip holds.
inline OffAxisCalibrationResult clearOffAxisCalibration(DriverCommands* commands, bool output, std::ostream& out,
                                                        ProcedureClock& clock,
                                                        const std::atomic<bool>* cancel = nullptr) {
    using namespace protocol::sensor_chip;
    namespace driver_ops = protocol::motor::driver_ops;
    constexpr std::chrono::milliseconds kRegisterPause{100};
    constexpr std::chrono::milliseconds kStorePause{1000};

    OffAxisCalibrationResult result;
    unsigned char type = 0;
    if (commands != nullptr) {
        int resolution = 0;
        bool use_index = false;
        const ret_status_t status =
            output ? commands->run<driver_ops::getOutputEncoderConfiguration>(&type, &resolution, &use_index)
                   : commands->run<driver_ops::getMotorEncoderConfiguration>(&type, &resolution, &use_index);
        if (status != RET_OK) type = 0;
    }
    if (type != kEncoderTypeMA7xx && type != kEncoderTypeMA600) {
        out << "Incompatible encoder has been configured. Please use either MA702, MA732 or MA600" << std::endl;
        result.failure = OffAxisFailure::Incompatible;
        result.reason = "the encoder is no MA702, MA732 or MA600, or its type could not be read; " +
                        calibration::chipText(result, false, false);
        return result;
    }
    result.compatible = true;

    // A cancel stops the reset before its next write; the pause under way ends
    // as soon as the clock lets it.
    const auto write = [&](uint8_t reg, uint8_t value, std::chrono::milliseconds pause) {
        if (cancel != nullptr && cancel->load()) return false;
        commands->run<driver_ops::setMAxxxSPIRegister>(output, reg, value);
        result.chip = OffAxisChipState::Cleared;
        clock.sleepFor(pause);
        return true;
    };
    const bool ma600 = type == kEncoderTypeMA600;
    bool written = write(kMAxxxRegBiasCurrentTrimming, 0, kRegisterPause) &&
                   write(kMAxxxRegTrimmingSettings, 0, kRegisterPause);
    if (ma600) {
        for (unsigned reg = kMAxxxRegFirstHarmonic; written && reg <= kMAxxxRegLastHarmonic; ++reg) {
            written = write(static_cast<uint8_t>(reg), 0, kRegisterPause);
        }
        written = written && write(kMAxxxRegStore, 0, kStorePause) && write(kMAxxxRegStore, 1, kRegisterPause);
    }
    if (!written) {
        out << "Reset cancelled." << std::endl;
        result.cancelled = true;
        result.failure = OffAxisFailure::Cancelled;
        result.reason = "stopped during the reset; " + calibration::chipText(result, ma600, false);
        return result;
    }
    result.completed = true;
    result.stored = ma600;
    out << "Done." << std::endl;
    return result;
}

/// Pauses through a function instead of a clock.
using OffAxisSleep = std::function<void(std::chrono::milliseconds)>;

/// The same reset with its pauses taken by `sleep`.
inline OffAxisCalibrationResult clearOffAxisCalibration(DriverCommands* commands, bool output, std::ostream& out,
                                                        const OffAxisSleep& sleep,
                                                        const std::atomic<bool>* cancel = nullptr) {
    class SleepClock : public ProcedureClock {
    public:
        explicit SleepClock(const OffAxisSleep& sleep) : sleep_(sleep) {}
        clock::time_point now() override { return clock::now(); }
        void sleepFor(clock::duration duration) override {
            sleep_(std::chrono::duration_cast<std::chrono::milliseconds>(duration));
        }

    private:
        const OffAxisSleep& sleep_;
    };
    SleepClock clock(sleep);
    return clearOffAxisCalibration(commands, output, out, clock, cancel);
}

}  // namespace kinetra
