#pragma once
// The reads a control cycle can make, each described from its class's protocol
// tables: the command, the request's frame, and the reply's layout from the
// class's routing table (so a read the class does not have has none).

#include <kinetra/control_cycle.h>

#include "can/bus.h"
#include "devices/cycle_read.h"
#include "devices/protocol/reply_layout.h"

#include <cstdint>

namespace kinetra {

/// One plain query as a cycle sends and decodes it.
struct CycleQuery {
    uint8_t command = 0;
    protocol::FrameKind kind = protocol::FrameKind::Remote;
    uint8_t dlc = protocol::kQueryDlc;
    /// The reply's values; null when the proxy's class has no such read.
    const protocol::ReplyLayout* layout = nullptr;
    /// Non-zero: the 16-bit values are fixed-point, handed out as float x scale.
    float scale = 0.0f;
};

/// The description of `reading` on `proxy`'s class.
CycleQuery cycleQuery(const CycleProxy& proxy, MotorReading reading);
CycleQuery cycleQuery(const CycleProxy& proxy, ImuReading reading);
CycleQuery cycleQuery(const CycleProxy& proxy, EncoderReading reading);

}  // namespace kinetra
