#pragma once
// Command identifiers that every device class shares.

#include <cstdint>

namespace kinetra::protocol::common {

constexpr uint8_t kGetHardwareVersion = 0x03;
constexpr uint8_t kGetFirmwareVersion = 0x04;
constexpr uint8_t kGetFirmwareCommit = 0x05;
constexpr uint8_t kSetNodeId = 0x09;
constexpr uint8_t kGetNodeId = 0x0A;
constexpr uint8_t kReboot = 0x71;
constexpr uint8_t kSaveConfigurations = 0x72;
constexpr uint8_t kEraseConfigurations = 0x73;
constexpr uint8_t kEnterDfuMode = 0x7F;

}  // namespace kinetra::protocol::common
