#pragma once
// Protocol facts of the bus level, shared by the interface, the proxies and the
// simulator: the identifier fields every frame uses, heartbeats and acknowledgements.

#include <kinetra/can_frame.h>

#include <cstdint>

namespace kinetra::protocol {

/// Flag bits of can_frame_data::can_id.
constexpr uint32_t kExtendedFlag = 1u << 31;
constexpr uint32_t kRemoteFlag = 1u << 30;
/// Set only by a host, in its master heartbeat: a frame carrying it is never a device's.
constexpr uint32_t kMasterFlag = 1u << 25;

/// Command identifiers with a meaning on the interface level.
constexpr uint8_t kHeartbeat = 1;
constexpr uint8_t kAcknowledgement = 2;

/// The payload length of the interface-level frames the host sends.
constexpr uint8_t kInterfaceFrameDlc = 1;
/// Remote requests always carry DLC 8.
constexpr uint8_t kQueryDlc = 8;

/// The device type that nodes report in their heartbeats.
/// The host sends 0 in every frame, so the devices use the non-zero values.
enum class DeviceType : uint8_t { Driver = 1, Actuator = 2, Imu = 3, Encoder = 4 };

/// Whether a frame goes out as data or as a remote request.
enum class FrameKind : uint8_t { Data, Remote };

/// The identifier the library uses for a frame to `node`: extended, device type 0,
/// master flag clear.
inline uint32_t hostFrameId(uint32_t node, uint8_t command, FrameKind kind) {
    can_node_id id;
    id.ext = 1;
    id.rtr = kind == FrameKind::Remote ? 1 : 0;
    id.node_id = node;
    id.command_id = command;
    return setNodeIDForFrame(id);
}

/// The identifier a node uses for its own frames: extended data frame carrying its
/// device type.
inline uint32_t nodeFrameId(uint32_t node, uint8_t command, uint8_t device_type) {
    can_node_id id;
    id.ext = 1;
    id.device_type = device_type;
    id.node_id = node;
    id.command_id = command;
    return setNodeIDForFrame(id);
}

/// The host's heartbeat: extended remote frame, master flag, node 0, command 1, DLC 1.
inline can_frame_data masterHeartbeatFrame() {
    can_node_id id;
    id.ext = 1;
    id.rtr = 1;
    id.master = 1;
    id.command_id = kHeartbeat;
    can_frame_data frame{};
    frame.can_id = setNodeIDForFrame(id);
    frame.can_dlc = kInterfaceFrameDlc;
    return frame;
}

/// The acknowledgement to one node: extended remote frame, command 2, DLC 1.
inline can_frame_data acknowledgementFrame(uint32_t node) {
    can_frame_data frame{};
    frame.can_id = hostFrameId(node, kAcknowledgement, FrameKind::Remote);
    frame.can_dlc = kInterfaceFrameDlc;
    return frame;
}

}  // namespace kinetra::protocol
