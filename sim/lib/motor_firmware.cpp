#include "kinetra_sim/motor_firmware.h"

#include "devices/protocol/motor_controller_protocol.h"

#include <cmath>

namespace kinetra::sim {

float MotorFirmware::sensedPosition(bool output, uint8_t type) const {
    const double gear = output ? static_cast<double>(motor_.parameters().gear_ratio) : 1.0;
    const double reported = output ? motor_.outputPosition() : motor_.position();
    if (type != protocol::motor::kEncoderTypeMA7xx && type != protocol::motor::kEncoderTypeMA600) {
        return static_cast<float>(reported);
    }
    const double mechanical = motor_.encoderPosition() / (gear > 0.0 ? gear : 1.0) * 360.0;
    const double turn = mechanical - 360.0 * std::floor(mechanical / 360.0);
    return static_cast<float>(reported + offAxisError(turn, sensor(output)) / 360.0);
}

}  // namespace kinetra::sim
