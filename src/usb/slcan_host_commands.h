#pragma once
// The adapter's side of the SLCAN command lines: what a line the host sends asks
// for, and the reply lines an adapter answers with. Pure and allocation-free on
// the parsing path, so a virtual adapter, tests and fuzzers can share it.

#include <kinetra/can_frame.h>
#include <kinetra/types.h>

#include "usb/slcan_codec.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kinetra::slcan {

/// The adapter's acknowledgement of a command it carried out.
constexpr std::string_view kOkReply = "\r";
/// The adapter's answer to a command it refuses (bell, no terminator).
constexpr std::string_view kRefusedReply = "\a";

/// What one line from the host asks the adapter to do.
enum class HostLineKind : uint8_t {
    Frame,                 ///< "t", "T", "r", "R": put `frame` on the bus
    OpenChannel,           ///< "O"
    CloseChannel,          ///< "C"
    SetBitRate,            ///< "S<code>": `bit_rate`
    Configuration,         ///< "Z<code>": `configuration`
    EnterDfu,              ///< "d"
    FirmwareVersionQuery,  ///< "V"
    HardwareVersionQuery,  ///< "H"
    BitRateQuery,          ///< "G"
    SerialNumberQuery,     ///< "N" (generic adapters)
    Empty,                 ///< nothing before the terminator
    Malformed,             ///< a known command letter with a bad argument or frame body
    Unknown                ///< any other first character
};

/// The adapter configuration actions of the "Z" command, by their code digit.
enum class ConfigurationAction : uint8_t { Save = 0, Erase = 1, Reboot = 2 };

/// One parsed host line; only the fields of `kind` are meaningful.
struct HostLine {
    HostLineKind kind = HostLineKind::Unknown;
    can_frame_data frame{};
    CANBaudRate bit_rate = CAN_BAUD_10K;
    ConfigurationAction configuration = ConfigurationAction::Save;
    /// For a Malformed frame line: why the frame codec rejected it.
    LineKind frame_error = LineKind::Frame;
};

/// Parses one line from the host, with or without its terminator (only the
/// characters before the first terminator count). Never throws, never reads
/// outside `line`. Frame lines go through decodeLine(); a remote-request line that
/// stops after its length digit (the classic SLCAN form) is accepted too, with
/// zero data bytes. Commands take exactly their letter and, for "S" and "Z", one
/// code digit ("0"-"8" and "0"-"2"); anything else after them is Malformed.
HostLine parseHostLine(std::string_view line);

/// "V<major>.<minor>.<patch>-<tag>\r": each number travels as the one character
/// '0' + value (so 0-9 read as digits) at positions 1, 3 and 5; the tag fills
/// positions 7-14, cut or padded with '0' to eight characters.
std::string firmwareVersionReply(uint8_t major, uint8_t minor, uint8_t patch, std::string_view tag);
/// "H<major>.<minor>.<patch>\r", numbers as in firmwareVersionReply().
std::string hardwareVersionReply(uint8_t major, uint8_t minor, uint8_t patch);
/// "G<code>\r" with the code character '0' + rate.
std::string bitRateReply(CANBaudRate rate);
/// "d\r": the adapter reports that it entered its firmware-update mode.
std::string dfuInfoReply();

/// A generic SLCAN adapter's answer to "V": "V" and four hex digits, the
/// hardware and the firmware version (major, minor; each 0-15, cut to its low
/// nibble), then "\r", e.g. "V2112\r" for hardware 2.1 and firmware 1.2.
std::string genericVersionReply(uint8_t hardware_major, uint8_t hardware_minor, uint8_t firmware_major,
                                uint8_t firmware_minor);
/// A generic SLCAN adapter's answer to "N": "N" and four characters of
/// `serial`, cut or padded with '0', then "\r".
std::string serialNumberReply(std::string_view serial);

}  // namespace kinetra::slcan
