#pragma once
// What distinguishes the four proxy classes inside the shared engine: the reply
// variant, the routing table, which values they log, and whether heartbeats carry
// status and bootloader replies are matched.

#include "can/bus.h"
#include "devices/protocol/imu_protocol.h"
#include "devices/protocol/motor_controller_protocol.h"
#include "devices/protocol/vorlex_protocol.h"
#include "devices/query_engine.h"

namespace kinetra {

struct DriverTraits {
    using Value = reply_value;
    static constexpr const protocol::RouteTable& routes = protocol::motor::kDriverRoutes;
    static constexpr ValueLogging logging = ValueLogging::FlagsOnly;
    static constexpr bool kMotorController = true;
    static constexpr uint8_t kSetNodeIdDlc = 5;
    static constexpr protocol::FrameKind kRebootFrameKind = protocol::FrameKind::Data;
};

struct ActuatorTraits {
    using Value = reply_value;
    static constexpr const protocol::RouteTable& routes = protocol::motor::kActuatorRoutes;
    static constexpr ValueLogging logging = ValueLogging::All;
    static constexpr bool kMotorController = true;
    static constexpr uint8_t kSetNodeIdDlc = 5;
    static constexpr protocol::FrameKind kRebootFrameKind = protocol::FrameKind::Data;
};

struct ImuTraits {
    using Value = reply_value_with_text;
    static constexpr const protocol::RouteTable& routes = protocol::imu::kImuRoutes;
    static constexpr ValueLogging logging = ValueLogging::All;
    static constexpr bool kMotorController = false;
    static constexpr uint8_t kSetNodeIdDlc = 4;
    static constexpr protocol::FrameKind kRebootFrameKind = protocol::FrameKind::Remote;
};

struct VorlexTraits {
    using Value = reply_value_with_text;
    static constexpr const protocol::RouteTable& routes = protocol::vorlex::kVorlexRoutes;
    static constexpr ValueLogging logging = ValueLogging::All;
    static constexpr bool kMotorController = false;
    static constexpr uint8_t kSetNodeIdDlc = 4;
    static constexpr protocol::FrameKind kRebootFrameKind = protocol::FrameKind::Remote;
};

}  // namespace kinetra
