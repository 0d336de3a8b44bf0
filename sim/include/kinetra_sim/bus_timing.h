#pragma once
/// @file bus_timing.h
/// How long things take on a real bus and adapter: the figures and pure
/// arithmetic of the simulator's timing model (off by default, on with
/// `kinetra-sim --realistic` and in the benchmarks).
///
/// The model, and where its figures come from:
/// - A CAN frame occupies the bus from its start-of-frame bit to the end of its
///   end-of-frame field, plus the 3-bit interframe space before the next one may
///   start. The bit-stuffed part (start of frame to the end of the CRC: 34 bits
///   for a standard identifier, 54 for an extended one, plus 8 per data byte,
///   none for a remote frame) gains in the worst case one stuff bit per four
///   bits; CRC delimiter, acknowledgement slot and delimiter and the 7-bit end of
///   frame add 10 unstuffed bits. An extended frame with 8 data bytes thus takes
///   160 bits, 160 us at 1 Mbit/s (ISO 11898-1 frame format; the worst-case
///   stuffing bound is the one used in CAN schedulability analysis).
/// - Frames wait for a free bus; among those ready when it frees, the lowest
///   identifier wins arbitration as on CAN: identifier bits compare most
///   significant first with 0 dominant, so with equal base identifiers the
///   standard frame wins (its IDE bit is dominant) and a data frame wins over a
///   remote one (its RTR bit is dominant).
/// - The adapter adds a latency in each direction, by default 1 ms: a full-speed
///   USB device is polled once per 1 ms frame, so a line waits up to that long.
/// - The serial line between adapter and host has a rate: unlimited by default
///   (a USB CDC device ignores the nominal baud rate), or a given rate such as
///   115200 baud to model a UART bridge, where each character costs 10 bit times
///   (8N1), so a 27-character frame line takes 2.3 ms.

#include <kinetra/can_frame.h>
#include <kinetra/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace kinetra::sim {

/// The timing model's settings; the defaults are the figures above.
struct TimingSetup {
    /// Off: frames pass at once, as unit tests want.
    bool enabled = false;
    /// Added by the adapter in each direction.
    std::chrono::microseconds adapter_latency{1000};
    /// Characters per second times ten on the serial line; 0 = unlimited.
    uint32_t serial_baud = 0;
};

/// The bus's bits per second for a CANBaudRate selector (1 Mbit/s when out of range).
uint32_t bitRateOf(CANBaudRate rate);

/// The worst-case number of bit times `frame` occupies the bus, interframe
/// space included.
uint32_t frameBits(const can_frame_data& frame);

/// How long `frame` occupies a bus running at `bits_per_second`.
std::chrono::nanoseconds frameDuration(const can_frame_data& frame, uint32_t bits_per_second);

/// How long `characters` take on a serial line at `baud` (8N1); 0 when unlimited.
std::chrono::nanoseconds serialDuration(std::size_t characters, uint32_t baud);

/// The characters of the SLCAN line that carries `frame`, terminator included.
std::size_t lineLength(const can_frame_data& frame);

/// The arbitration field of `frame` as a number whose lower value wins the bus.
uint32_t arbitrationKey(const can_frame_data& frame);

}  // namespace kinetra::sim
