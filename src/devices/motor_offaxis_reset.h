#pragma once
// Resetting the off-axis calibration stored in a magnetic angle sensor chip:
// zero the bias current trimming and the trimming settings, and on the MA600
// also the harmonic compensation coefficients, which the chip then stores.
// The chip needs time after each register write, hence the pauses.

#include "devices/motor_driver_commands.h"

#include <chrono>
#include <functional>
#include <ostream>

namespace kinetra {

/// Pauses the calling thread; replaceable so that tests need not wait.
using OffAxisSleep = std::function<void(std::chrono::milliseconds)>;

/// Resets the calibration of the chip `output` selects. `commands` may be null
/// (a proxy without implementation), which counts as an incompatible encoder.
/// Progress goes to `out`. Register writes are not confirmed by the device.
inline void clearOffAxisCalibration(DriverCommands* commands, bool output, std::ostream& out,
                                    const OffAxisSleep& sleep) {
    using namespace protocol::motor;
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
        sleep(pause);
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

}  // namespace kinetra
