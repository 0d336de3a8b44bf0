#pragma once
/// @file can_frame.h
/// The CAN frame record, the device-protocol identifier layout, bit-field signal
/// access, the discarding log stream and the library version.

#include <kinetra/export.h>

#include <cstdint>
#include <ostream>
#include <streambuf>
#include <string>

/// One CAN frame, laid out like Linux SocketCAN's `struct can_frame`.
struct can_frame_data {
    /// Bit 31 extended, bit 30 remote request, bit 29 error, bits 0-28 identifier.
    uint32_t can_id = 0;
    /// Data length code, 0-8.
    uint8_t can_dlc = 0;
    uint8_t reserved0 = 0;  ///< padding, as in SocketCAN; unused
    uint8_t reserved1 = 0;  ///< padding; unused
    uint8_t reserved2 = 0;  ///< padding; unused
    /// Payload; bytes beyond can_dlc are carried but meaningless.
    alignas(8) uint8_t data[8] = {0, 0, 0, 0, 0, 0, 0, 0};
};

/// The parts of a device-protocol identifier, packed by setNodeIDForFrame().
struct can_node_id {
    uint8_t ext = 0;          ///< bit 31, extended-identifier flag
    uint8_t rtr = 0;          ///< bit 30, remote-request flag
    uint8_t err = 0;          ///< bit 29, error flag
    uint8_t device_type = 0;  ///< bits 26-28
    uint8_t master = 0;       ///< bit 25, set only in the host's heartbeat
    uint32_t node_id = 0;     ///< bits 7-24 (18 bits)
    uint8_t command_id = 0;   ///< bits 0-6 (7 bits)
};

/// Packs the identifier parts into a can_id word. Each field is cut to its width,
/// so an out-of-range field can never spill into a neighbouring one.
KINETRA_API unsigned int setNodeIDForFrame(can_node_id n);
/// The command identifier (bits 0-6).
KINETRA_API unsigned char getCommandIdFromFrame(can_frame_data* frame);
/// The node identifier (bits 7-24).
KINETRA_API unsigned int getDeviceIdFromFrame(can_frame_data* frame);
/// The device type (bits 26-28).
KINETRA_API unsigned int getDeviceTypeFromFrame(can_frame_data* frame);
/// The extended-identifier flag (bit 31).
KINETRA_API bool getExtFromFrame(can_frame_data* frame);
/// The remote-request flag (bit 30).
KINETRA_API bool getRtrFromFrame(can_frame_data* frame);
/// The identifier without the three flags (bits 0-28).
KINETRA_API unsigned int getExtendedIdFromFrame(can_frame_data* frame);

/// Reads a bit field of the payload. `little_endian` false reverses the payload
/// bytes first and counts `start` from the most significant bit of byte 0.
/// No sign extension: only a field exactly as wide as a signed T reads negative.
/// Instantiated for unsigned char, bool, short, unsigned short, int, unsigned int,
/// float and unsigned long long.
template <typename T>
KINETRA_API T canGetSignal(can_frame_data frame, unsigned char start, unsigned char length,
                           bool little_endian);

/// Writes a bit field of the payload, leaving all other bits, the DLC and the
/// identifier unchanged. Value bits beyond `length` are cut. Instantiated for
/// unsigned char, bool, short, unsigned short, int, unsigned int, float and the
/// IMU sensor-report selector.
template <typename T>
KINETRA_API void canSetSignal(can_frame_data& frame, const T& value, unsigned char start,
                              unsigned char length, bool little_endian);

/// Writes (value - offset) / factor, computed in single precision and truncated
/// toward zero, into an 8- or 16-bit field; results wrap. A NaN or a quotient
/// outside the signed 32-bit range is written as 0. Instantiated for unsigned
/// char, short and unsigned short.
template <typename T>
KINETRA_API void canSetSignal(can_frame_data& frame, const float& value, unsigned char start,
                              unsigned char length, bool little_endian, float factor, float offset);

/// The library version, "0.1.10-beta".
KINETRA_API std::string getLibraryVersion();

/// A std::ostream that discards everything written to it and never fails.
class KINETRA_API NullStream : public std::ostream {
public:
    /// The stream buffer behind NullStream: swallows every character.
    class NullBuffer : public std::streambuf {
    public:
        /// Accepts and drops one character.
        int overflow(int c) override { return traits_type::not_eof(c); }
    };

    NullStream() : std::ostream(&buffer_) {}

private:
    NullBuffer buffer_;
};

/// The shared discarding log sink, the initial log stream of every Interface.
extern KINETRA_API NullStream _ns;
