#pragma once
// Pure SLCAN line coding: one line from one frame, one frame or adapter reply from
// one line, and the adapter's command lines. No I/O, no allocation on the frame
// paths, so the transport, the simulator, the benchmarks and the fuzzers share it.

#include <kinetra/can_frame.h>
#include <kinetra/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kinetra::slcan {

/// The longest line the adapter sends or accepts, terminator included.
constexpr std::size_t kMaxLineLength = 30;
/// The longest frame line: letter, 8 id digits, length digit, 16 data digits, CR.
constexpr std::size_t kMaxFrameLineLength = 27;
constexpr char kTerminator = '\r';
/// SLCAN adapters answer a refused command with the bell character.
constexpr char kBell = '\a';
/// The characters after the letter of a generic adapter's "V" and "N" replies.
constexpr std::size_t kGenericReplyCharacters = 4;
/// The digits SLCAN lines are written with: upper-case hex.
constexpr char kUpperHexDigits[] = "0123456789ABCDEF";

/// What one received line turned out to be.
enum class LineKind : uint8_t {
    Frame,            ///< a "t", "T", "r" or "R" line decoded into `frame`
    FirmwareVersion,  ///< "V" reply: major, minor, patch, tag
    HardwareVersion,  ///< "H" reply: major, minor, patch
    BitRate,          ///< "G" reply: baud_code
    DfuInfo,          ///< "d" reply
    GenericVersion,   ///< a generic adapter's "V" reply: four hex digits, in `tag`
    SerialNumber,     ///< a generic adapter's "N" reply: four characters, in `tag`
    Empty,            ///< nothing but a terminator (an adapter's "OK")
    Refused,          ///< the bell character: the adapter refused a command
    Unknown,          ///< a line starting with any other character
    BadLength,        ///< a frame line whose length digit is above 8
    Truncated,        ///< a frame line shorter than its length digit asks for, or
                      ///< a "V", "H" or "G" reply too short to hold its fields
    TooLong,          ///< a frame line with characters after its last data digit
    BadDigit          ///< a frame line with a character that is not a hex digit
};

/// The result of decoding one line. Only the fields of `kind` are meaningful.
struct DecodedLine {
    LineKind kind = LineKind::Unknown;
    can_frame_data frame{};
    uint8_t major = 0;
    uint8_t minor = 0;
    uint8_t patch = 0;
    uint8_t baud_code = 0;
    /// The eight tag characters of a "V" reply; the four characters of a
    /// generic adapter's "V" or "N" reply (the rest '\0').
    std::array<char, 8> tag{};
};

/// How a remote frame is written: with as many data digits as its length says
/// (the Zarvo expects them), or in the short form every SLCAN adapter knows:
/// letter, identifier and length only.
enum class RemoteForm : uint8_t { WithDataDigits, Short };

/// Writes the line for `frame`, terminator included, into `out` and returns its
/// length (at most kMaxFrameLineLength). A DLC above 8 is written as 8.
std::size_t encodeFrame(const can_frame_data& frame, char* out, RemoteForm form = RemoteForm::WithDataDigits);
/// The line for `frame` as a string.
std::string encodeFrame(const can_frame_data& frame, RemoteForm form = RemoteForm::WithDataDigits);

/// Decodes one line, with or without its terminator; only the characters before
/// the first terminator count. Never throws, never allocates, never reads outside
/// `line`. Upper- and lower-case hex digits are accepted; extended identifiers are
/// masked to 29 bits, standard ones carry 12 bits. A frame is produced only from a
/// line that holds exactly the letter, the id digits, the length digit (0-8) and
/// two hex digits per data byte; a remote request may also stop right after its
/// length digit (the classic SLCAN form), then with no data bytes. Reply fields are single characters minus '0',
/// not validated, as the adapter sends them; "V" needs 15 characters (the tag is
/// positions 7-14), "H" 6, "G" 2. A generic adapter's replies are told by their
/// length: "V" with exactly four hex digits, "N" with exactly four characters.
DecodedLine decodeLine(std::string_view line);

/// Whether `rate` is one of the nine bit rates the adapter knows.
bool isValidBitRate(CANBaudRate rate);

/// "C\rS<code>\rO\r": close the channel, select the bit rate, open it. The code
/// is '0' + rate; callers check the rate with isValidBitRate() first.
std::string setBitRateCommand(CANBaudRate rate);
/// "G\r": asks for the current bit rate (reply "G").
std::string bitRateQuery();
/// "V\r": asks for the firmware version (reply "V").
std::string firmwareVersionQuery();
/// "H\r": asks for the hardware version (reply "H").
std::string hardwareVersionQuery();
/// "C\rd\r": enter the adapter's firmware-update mode.
std::string enterDfuCommand();
/// "C\rZ0\rO\r": store the adapter configuration.
std::string saveConfigurationCommand();
/// "C\rZ1\rO\r": erase the stored adapter configuration.
std::string eraseConfigurationCommand();
/// "C\rZ2\rO\r": reboot the adapter.
std::string rebootCommand();

}  // namespace kinetra::slcan
