#include <kinetra/can_frame.h>

#include "can/signal_field.h"

#include <cmath>
#include <type_traits>

NullStream _ns;

unsigned int setNodeIDForFrame(can_node_id n) {
    // Each field is cut to its width so that a careless value can never change
    // a neighbouring field (a node id above 18 bits would otherwise set the
    // master flag or the device type).
    return (static_cast<uint32_t>(n.ext & 1u) << 31) | (static_cast<uint32_t>(n.rtr & 1u) << 30) |
           (static_cast<uint32_t>(n.err & 1u) << 29) | (static_cast<uint32_t>(n.device_type & 7u) << 26) |
           (static_cast<uint32_t>(n.master & 1u) << 25) | ((n.node_id & 0x3FFFFu) << 7) |
           static_cast<uint32_t>(n.command_id & 0x7Fu);
}

unsigned char getCommandIdFromFrame(can_frame_data* frame) { return frame->can_id & 0x7Fu; }
unsigned int getDeviceIdFromFrame(can_frame_data* frame) { return (frame->can_id >> 7) & 0x3FFFFu; }
unsigned int getDeviceTypeFromFrame(can_frame_data* frame) { return (frame->can_id >> 26) & 7u; }
bool getExtFromFrame(can_frame_data* frame) { return (frame->can_id >> 31) & 1u; }
bool getRtrFromFrame(can_frame_data* frame) { return (frame->can_id >> 30) & 1u; }
unsigned int getExtendedIdFromFrame(can_frame_data* frame) { return frame->can_id & 0x1FFFFFFFu; }

template <typename T>
T canGetSignal(can_frame_data frame, unsigned char start, unsigned char length, bool little_endian) {
    const uint64_t raw = kinetra::signal_field::readField(frame, start, length, little_endian);
    // A bool keeps the low eight bits of the field, so any non-zero byte is true.
    if constexpr (std::is_same_v<T, bool>) {
        return (raw & 0xFFu) != 0;
    } else {
        return kinetra::fromBits<T>(raw);
    }
}

template <typename T>
void canSetSignal(can_frame_data& frame, const float& value, unsigned char start, unsigned char length,
                  bool little_endian, float factor, float offset) {
    const float quotient = (value - offset) / factor;
    // Truncation toward zero, without saturation: the low bits of the 32-bit
    // integer are sent, so out-of-range values wrap. What int32 cannot hold
    // (NaN, infinities, huge quotients) is sent as 0 rather than being undefined.
    int32_t integer = 0;
    if (std::isfinite(quotient) && quotient > -2147483648.0f && quotient < 2147483648.0f) {
        integer = static_cast<int32_t>(quotient);
    }
    const T narrowed = static_cast<T>(integer);
    canSetSignal<T>(frame, narrowed, start, length, little_endian);
}

template unsigned char canGetSignal<unsigned char>(can_frame_data, unsigned char, unsigned char, bool);
template bool canGetSignal<bool>(can_frame_data, unsigned char, unsigned char, bool);
template short canGetSignal<short>(can_frame_data, unsigned char, unsigned char, bool);
template unsigned short canGetSignal<unsigned short>(can_frame_data, unsigned char, unsigned char, bool);
template int canGetSignal<int>(can_frame_data, unsigned char, unsigned char, bool);
template unsigned int canGetSignal<unsigned int>(can_frame_data, unsigned char, unsigned char, bool);
template float canGetSignal<float>(can_frame_data, unsigned char, unsigned char, bool);
template unsigned long long canGetSignal<unsigned long long>(can_frame_data, unsigned char, unsigned char, bool);

template void canSetSignal<unsigned char>(can_frame_data&, const unsigned char&, unsigned char, unsigned char, bool);
template void canSetSignal<bool>(can_frame_data&, const bool&, unsigned char, unsigned char, bool);
template void canSetSignal<short>(can_frame_data&, const short&, unsigned char, unsigned char, bool);
template void canSetSignal<unsigned short>(can_frame_data&, const unsigned short&, unsigned char, unsigned char,
                                           bool);
template void canSetSignal<int>(can_frame_data&, const int&, unsigned char, unsigned char, bool);
template void canSetSignal<unsigned int>(can_frame_data&, const unsigned int&, unsigned char, unsigned char, bool);
template void canSetSignal<float>(can_frame_data&, const float&, unsigned char, unsigned char, bool);

template void canSetSignal<unsigned char>(can_frame_data&, const float&, unsigned char, unsigned char, bool, float,
                                          float);
template void canSetSignal<short>(can_frame_data&, const float&, unsigned char, unsigned char, bool, float, float);
template void canSetSignal<unsigned short>(can_frame_data&, const float&, unsigned char, unsigned char, bool, float,
                                           float);

std::string getLibraryVersion() { return "0.1.10-beta"; }
