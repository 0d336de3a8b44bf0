#pragma once
/// @file setups.h
/// What a simulated bus is made of: the node kinds, a node's factory settings and
/// the virtual adapter's identity.

#include <kinetra/types.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace kinetra::sim {

/// The device classes the simulator models.
enum class NodeKind : uint8_t { Driver, Actuator, Imu, Encoder };

/// "driver", "actuator", "imu" or "encoder".
const char* nodeKindName(NodeKind kind);

/// One simulated node as it leaves the factory: these are also the values that
/// erasing its configuration restores.
struct NodeSetup {
    NodeKind kind = NodeKind::Driver;
    uint32_t node_id = 1;
    /// The node hears and is heard only while the adapter runs at this rate.
    CANBaudRate bit_rate = CAN_BAUD_500K;
    std::chrono::milliseconds heartbeat_period{100};
};

/// The virtual adapter's identity and power-on settings.
struct AdapterSetup {
    uint8_t firmware_major = 1;
    uint8_t firmware_minor = 2;
    uint8_t firmware_patch = 3;
    /// Eight characters; the "V" reply cuts or pads it with '0'.
    std::string firmware_tag = "51mc0de1";
    uint8_t hardware_major = 2;
    uint8_t hardware_minor = 1;
    uint8_t hardware_patch = 0;
    /// The bit rate at power-on until a saved one replaces it: the rate a firmware
    /// update leaves the adapter at, so the other nodes stay reachable after it.
    CANBaudRate bit_rate = CAN_BAUD_500K;
    /// The port-list description; it must name the adapter for USBInterface.
    std::string description = "Kinetra Zarvo (simulated)";
    std::string hardware_id = "SIM VID:PID=0000:0000 SER=KINETRA-SIM";
    /// Four characters: a generic adapter's answer to "N".
    std::string serial_number = "SIM1";
    /// Behave as a generic SLCAN adapter instead of the Zarvo: the channel is
    /// closed at power-on, so no frame passes until the host opens it, and a
    /// remote line must be in the short form (no data digits).
    bool generic = false;
};

}  // namespace kinetra::sim
