#pragma once
// The magnetic angle sensor chips (MA702, MA732, MA600) behind the motor
// controllers' encoders and the Vorlex encoder: the encoder type codes that
// name them and the registers the library reads and writes through the
// devices' register commands. Shared by the motor and encoder code and the
// calibration.

#include <cstdint>

namespace kinetra::protocol::sensor_chip {

/// Encoder type codes the library interprets.
constexpr uint8_t kEncoderTypeMA7xx = 4;  ///< MA702 or MA732
constexpr uint8_t kEncoderTypeMA600 = 9;

/// Registers.
constexpr uint8_t kMAxxxRegBiasCurrentTrimming = 2;
constexpr uint8_t kMAxxxRegTrimmingSettings = 3;
constexpr uint8_t kMAxxxRegFilterWindow = 14;
constexpr uint8_t kMAxxxRegFirstHarmonic = 32;  ///< MA600 compensation coefficients 32..63
constexpr uint8_t kMAxxxRegLastHarmonic = 63;
constexpr uint8_t kMAxxxRegStore = 234;  ///< MA600: written 0 then 1 to store the settings

}  // namespace kinetra::protocol::sensor_chip
