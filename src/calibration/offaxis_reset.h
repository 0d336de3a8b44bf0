#pragma once
// Resetting the off-axis calibration stored in a magnetic angle sensor chip:
// zero the bias current trimming and the trimming settings, and on the MA600
// also the harmonic compensation coefficients, which the chip then stores.
// The chip needs time after each register write, hence the pauses, which go
// through the procedure clock like those of the calibration itself.

#include <kinetra/procedure_clock.h>

#include "devices/motor_driver_commands.h"
#include "devices/protocol/sensor_chip.h"

#include <chrono>
#include <functional>
#include <ostream>

namespace kinetra {

/// Resets the calibration of the chip `output` selects. `commands` may be null
/// (a proxy without implementation), which counts as an incompatible encoder.
/// Progress goes to `out`; the pauses to `clock`. Register writes are not
/// confirmed by the device.
inline void clearOffAxisCalibration(DriverCommands* commands, bool output, std::ostream& out, ProcedureClock& clock) {
    using namespace protocol::sensor_chip;
    namespace driver_ops = protocol::motor::driver_ops;
    constexpr std::chrono::milliseconds kRegisterPause{100};
    constexpr std::chrono::milliseconds kStorePause{1000};

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
        return;
    }

    const auto write = [&](uint8_t reg, uint8_t value, std::chrono::milliseconds pause) {
        commands->run<driver_ops::setMAxxxSPIRegister>(output, reg, value);
        clock.sleepFor(pause);
    };
    write(kMAxxxRegBiasCurrentTrimming, 0, kRegisterPause);
    write(kMAxxxRegTrimmingSettings, 0, kRegisterPause);
    if (type == kEncoderTypeMA600) {
        for (unsigned reg = kMAxxxRegFirstHarmonic; reg <= kMAxxxRegLastHarmonic; ++reg) {
            write(static_cast<uint8_t>(reg), 0, kRegisterPause);
        }
        write(kMAxxxRegStore, 0, kStorePause);
        write(kMAxxxRegStore, 1, kRegisterPause);
    }
    out << "Done." << std::endl;
}

/// Pauses through a function instead of a clock.
using OffAxisSleep = std::function<void(std::chrono::milliseconds)>;

/// The same reset with its pauses taken by `sleep`.
inline void clearOffAxisCalibration(DriverCommands* commands, bool output, std::ostream& out,
                                    const OffAxisSleep& sleep) {
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
    clearOffAxisCalibration(commands, output, out, clock);
}

}  // namespace kinetra
