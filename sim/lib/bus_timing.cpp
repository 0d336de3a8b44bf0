#include "kinetra_sim/bus_timing.h"

#include "can/bus.h"
#include "devices/protocol/motor_controller_protocol.h"
#include "usb/slcan_codec.h"

#include <algorithm>

namespace kinetra::sim {
namespace {

using protocol::kExtendedFlag;
using protocol::kRemoteFlag;
constexpr uint32_t kStandardMask = 0x7FF;
constexpr uint32_t kExtendedMask = 0x1FFFFFFF;
constexpr unsigned kExtensionBits = 18;

// Start of frame to the end of the CRC, without data: the part that is stuffed.
constexpr uint32_t kStuffedStandard = 34;
constexpr uint32_t kStuffedExtended = 54;
// CRC delimiter, acknowledgement slot and delimiter, end of frame.
constexpr uint32_t kUnstuffedTail = 10;
constexpr uint32_t kInterframeSpace = 3;
// The worst case: one stuff bit after every four equal bits of the stuffed part.
constexpr uint32_t kBitsPerStuffBit = 4;
constexpr uint32_t kBitsPerCharacter = 10;

}  // namespace

uint32_t bitRateOf(CANBaudRate rate) {
    const int index = static_cast<int>(rate);
    if (index < 0 || index >= protocol::motor::kCanBitRateCount) return protocol::motor::kCanBitRates[CAN_BAUD_1M];
    return protocol::motor::kCanBitRates[index];
}

uint32_t frameBits(const can_frame_data& frame) {
    const bool extended = (frame.can_id & kExtendedFlag) != 0;
    const bool remote = (frame.can_id & kRemoteFlag) != 0;
    const uint32_t data_bits = remote ? 0 : 8u * std::min<uint32_t>(frame.can_dlc, 8);
    const uint32_t stuffed = (extended ? kStuffedExtended : kStuffedStandard) + data_bits;
    return stuffed + stuffed / kBitsPerStuffBit + kUnstuffedTail + kInterframeSpace;
}

std::chrono::nanoseconds frameDuration(const can_frame_data& frame, uint32_t bits_per_second) {
    if (bits_per_second == 0) return std::chrono::nanoseconds(0);
    return std::chrono::nanoseconds(uint64_t{frameBits(frame)} * 1'000'000'000u / bits_per_second);
}

std::chrono::nanoseconds serialDuration(std::size_t characters, uint32_t baud) {
    if (baud == 0) return std::chrono::nanoseconds(0);
    return std::chrono::nanoseconds(uint64_t{characters} * kBitsPerCharacter * 1'000'000'000u / baud);
}

std::size_t lineLength(const can_frame_data& frame) {
    char line[slcan::kMaxFrameLineLength];
    return slcan::encodeFrame(frame, line);
}

uint32_t arbitrationKey(const can_frame_data& frame) {
    const uint32_t rtr = (frame.can_id & kRemoteFlag) != 0 ? 1 : 0;
    if ((frame.can_id & kExtendedFlag) == 0) {
        // Identifier, RTR, then a dominant IDE; what follows is no longer arbitrated.
        return (frame.can_id & kStandardMask) << 21 | rtr << 20;
    }
    const uint32_t id = frame.can_id & kExtendedMask;
    const uint32_t base = id >> kExtensionBits;
    const uint32_t extension = id & ((1u << kExtensionBits) - 1);
    // Base identifier, recessive SRR and IDE, the extension, then RTR.
    return base << 21 | 1u << 20 | 1u << 19 | extension << 1 | rtr;
}

}  // namespace kinetra::sim
