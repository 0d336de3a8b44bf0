#pragma once
// The payload of a motor controller request, built value by value end to end from
// bit 0. Set points that travel as small integers are scaled with the same rule
// as canSetSignal: (value / factor) in single precision, truncated toward zero,
// low bits kept, so out-of-range values wrap instead of saturating.

#include <kinetra/can_frame.h>

#include "devices/protocol/payload.h"
#include "devices/protocol/reply_layout.h"

#include <cstdint>

namespace kinetra {

class MotorPayload {
public:
    MotorPayload& f32(float value) { return put(value); }
    MotorPayload& u32(uint32_t value) { return put(static_cast<unsigned int>(value)); }
    MotorPayload& i32(int32_t value) { return put(static_cast<int>(value)); }
    MotorPayload& u16(uint16_t value) { return put(static_cast<unsigned short>(value)); }
    MotorPayload& i16(int16_t value) { return put(static_cast<short>(value)); }
    MotorPayload& u8(uint8_t value) { return put(static_cast<unsigned char>(value)); }
    MotorPayload& flag(bool value) { return put(value); }

    /// A 16-bit field holding value / factor.
    MotorPayload& scaled16(float value, float factor) { return put(scaledRaw<short>(value, factor, 16)); }
    /// An 8-bit field holding value / factor.
    MotorPayload& scaled8(float value, float factor) { return put(scaledRaw<unsigned char>(value, factor, 8)); }

    /// A frame carrying the payload; identifier and DLC are the sender's.
    can_frame_data frame() const {
        can_frame_data frame{};
        protocol::setPayloadWord(frame, packer_.word());
        return frame;
    }

private:
    template <typename T>
    MotorPayload& put(const T& value) {
        packer_.put(value);
        return *this;
    }

    // One definition of the scaling rule: the library's own scaled setter.
    template <typename T>
    static T scaledRaw(float value, float factor, unsigned char bits) {
        can_frame_data scratch{};
        canSetSignal<T>(scratch, value, 0, bits, true, factor, 0.0f);
        return canGetSignal<T>(scratch, 0, bits, true);
    }

    protocol::PayloadPacker packer_;
};

}  // namespace kinetra
