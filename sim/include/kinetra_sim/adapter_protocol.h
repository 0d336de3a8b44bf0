#pragma once
/// @file adapter_protocol.h
/// The virtual adapter's behaviour on the serial side, apart from any I/O: the
/// host's lines in, frames onto the bus, node frames and replies out.

#include <kinetra/can_frame.h>
#include <kinetra/types.h>

#include "kinetra_sim/setups.h"
#include "kinetra_sim/traffic.h"
#include "kinetra_sim/host_ports.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace kinetra::sim {

/// Where the adapter's bytes for the host go (the pty, or a buffer in tests).
class HostWire {
public:
    virtual ~HostWire() = default;
    /// Sends `bytes` to the host in one piece. Thread-safe.
    virtual void writeToHost(std::string_view bytes) = 0;
};

/// An SLCAN adapter with its own CAN bit rate and channel state: one host's
/// adapter on a bus that may have several.
///
/// The host's lines: frame lines go onto the bus while the channel is open
/// (refused with a bell while it is closed; no acknowledgement when carried);
/// "O", "C", "S<n>", "Z<n>" are acknowledged with "\r" or refused with a bell
/// ("O" while open, "S" and "Z" while open); "V", "H", "G" are answered with
/// their reply lines; "d" closes the channel, enters the firmware-update mode
/// (where only "C", "V", "H", "G" and the reboot "Z2" are served) and is answered
/// with "d\r"; anything else is refused with a bell.
///
/// The adapter powers up with the channel open at the saved bit rate (the
/// Zarvo transport never sends "O" on opening), or, in the generic mode of the
/// setup, closed until the host opens it, refusing remote lines with data
/// digits. A generic adapter answers "V" as common SLCAN adapters do ("V" and
/// four hex digits: hardware and firmware major and minor) and "N" with its
/// four-character serial number; the Zarvo refuses "N". "Z0" saves the current
/// bit rate, "Z1" returns the saved one to the setup's, "Z2" reboots: back at
/// the saved rate, channel open, out of the firmware-update mode.
class AdapterProtocol : public HostPort {
public:
    /// Longest line taken from the host; longer ones are refused whole.
    static constexpr std::size_t kMaxHostLine = 64;

    /// Frames from the host go to `bus`; attaching the adapter to it, so that it
    /// hears the bus, is left to the caller.
    AdapterProtocol(AdapterSetup setup, HostWire& wire, HostBus& bus);

    /// Reports every line exchanged; set before traffic starts.
    void setObserver(TrafficObserver observer) { observer_ = std::move(observer); }

    /// Takes bytes as they came from the host, split into lines at "\r" (line
    /// feeds are ignored). One thread at a time.
    void feed(const char* data, std::size_t size);
    /// Handles one complete host line without its terminator. One thread at a time.
    void handleLine(std::string_view line);

    const AdapterSetup& setup() const { return setup_; }
    bool channelOpen() const { return open_.load(); }
    CANBaudRate bitRate() const { return bit_rate_.load(); }
    CANBaudRate savedBitRate() const { return saved_bit_rate_.load(); }
    bool inDfuMode() const { return dfu_.load(); }

    bool carries(CANBaudRate rate) const override;
    void frameToHost(const can_frame_data& frame) override;

    /// Sends `lines` lines of rubbish to the host (malformed frames, unknown
    /// letters, over-long lines, bells, control bytes), chosen by `seed`.
    void sendGarbage(unsigned lines, uint32_t seed);
    /// Sends raw bytes to the host as they are.
    void sendRaw(std::string_view bytes);

    uint64_t linesFromHost() const { return lines_from_host_.load(); }
    uint64_t framesFromHost() const { return frames_from_host_.load(); }
    uint64_t framesToHost() const { return frames_to_host_.load(); }
    uint64_t refusals() const { return refusals_.load(); }

private:
    void answer(std::string_view text);
    void refuse();
    void observe(Direction direction, std::string_view line, const can_frame_data* frame);
    void handleFrameLine(std::string_view line, const can_frame_data& frame);
    bool handleConfiguration(uint8_t action);

    const AdapterSetup setup_;
    HostWire& wire_;
    HostBus& bus_;
    TrafficObserver observer_;

    std::atomic<bool> open_{true};
    std::atomic<bool> dfu_{false};
    std::atomic<CANBaudRate> bit_rate_;
    std::atomic<CANBaudRate> saved_bit_rate_;

    std::atomic<uint64_t> lines_from_host_{0};
    std::atomic<uint64_t> frames_from_host_{0};
    std::atomic<uint64_t> frames_to_host_{0};
    std::atomic<uint64_t> refusals_{0};

    // feed() only: the line being gathered, and whether it grew too long.
    std::string partial_;
    bool overlong_ = false;
};

}  // namespace kinetra::sim
