#include "kinetra_sim/adapter_protocol.h"

#include "usb/slcan_codec.h"
#include "usb/slcan_host_commands.h"

#include <iterator>
#include <random>

namespace kinetra::sim {
namespace {

using slcan::HostLineKind;

// Lines an adapter must never send, but a broken one or a noisy cable might:
// every one of them is rejected by the host's line decoder.
const std::string_view kGarbagePatterns[] = {
    "X1234\r",                          // unknown letter
    "T1234\r",                          // frame line cut short
    "t12391122334455667788\r",          // length digit 9
    "T0000008G80011223344556677\r",     // not a hex digit
    "T00000083200112233\r",             // more data digits than the length says
    "\a",                               // a bell nobody asked for
    "V1.2\r",                           // version reply without its fields
    "G\r",                              // bit-rate reply without its code
    "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA\r",  // longer than any line
};

constexpr std::size_t kRandomGarbageMax = 40;

}  // namespace

AdapterProtocol::AdapterProtocol(AdapterSetup setup, HostWire& wire, HostBus& bus)
    : setup_(std::move(setup)), wire_(wire), bus_(bus), bit_rate_(setup_.bit_rate), saved_bit_rate_(setup_.bit_rate) {
    partial_.reserve(kMaxHostLine);
    // A generic adapter waits for the host's set-up; the Zarvo starts open.
    open_ = !setup_.generic;
}

void AdapterProtocol::feed(const char* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == slcan::kTerminator) {
            if (overlong_) {
                ++lines_from_host_;
                observe(Direction::FromHost, partial_, nullptr);
                refuse();
            } else {
                handleLine(partial_);
            }
            partial_.clear();
            overlong_ = false;
        } else if (c == '\n') {
            continue;
        } else if (partial_.size() >= kMaxHostLine) {
            overlong_ = true;
        } else {
            partial_.push_back(c);
        }
    }
}

void AdapterProtocol::handleLine(std::string_view line) {
    ++lines_from_host_;
    const slcan::HostLine parsed = slcan::parseHostLine(line);
    observe(Direction::FromHost, line, parsed.kind == HostLineKind::Frame ? &parsed.frame : nullptr);

    if (dfu_) {
        // The firmware-update mode serves only what identifies the adapter and
        // the reboot that leaves it.
        const bool served = parsed.kind == HostLineKind::CloseChannel ||
                            parsed.kind == HostLineKind::FirmwareVersionQuery ||
                            parsed.kind == HostLineKind::HardwareVersionQuery ||
                            parsed.kind == HostLineKind::BitRateQuery ||
                            (parsed.kind == HostLineKind::Configuration &&
                             parsed.configuration == slcan::ConfigurationAction::Reboot);
        if (!served) {
            if (parsed.kind != HostLineKind::Empty) refuse();
            return;
        }
    }

    switch (parsed.kind) {
        case HostLineKind::Frame: handleFrameLine(line, parsed.frame); return;
        case HostLineKind::OpenChannel:
            if (open_) return refuse();
            open_ = true;
            return answer(slcan::kOkReply);
        case HostLineKind::CloseChannel:
            open_ = false;
            return answer(slcan::kOkReply);
        case HostLineKind::SetBitRate:
            // As on any SLCAN adapter, the rate changes only while the channel is closed.
            if (open_ || !bus_.allowsBitRate(*this, parsed.bit_rate)) return refuse();
            bit_rate_ = parsed.bit_rate;
            return answer(slcan::kOkReply);
        case HostLineKind::Configuration:
            if (open_) return refuse();
            handleConfiguration(static_cast<uint8_t>(parsed.configuration));
            return answer(slcan::kOkReply);
        case HostLineKind::EnterDfu:
            open_ = false;
            dfu_ = true;
            return answer(slcan::dfuInfoReply());
        case HostLineKind::FirmwareVersionQuery:
            if (setup_.generic) {
                return answer(slcan::genericVersionReply(setup_.hardware_major, setup_.hardware_minor,
                                                         setup_.firmware_major, setup_.firmware_minor));
            }
            return answer(slcan::firmwareVersionReply(setup_.firmware_major, setup_.firmware_minor,
                                                      setup_.firmware_patch, setup_.firmware_tag));
        case HostLineKind::HardwareVersionQuery:
            return answer(slcan::hardwareVersionReply(setup_.hardware_major, setup_.hardware_minor,
                                                      setup_.hardware_patch));
        case HostLineKind::BitRateQuery: return answer(slcan::bitRateReply(bit_rate_.load()));
        case HostLineKind::SerialNumberQuery:
            // The Zarvo has no serial-number command.
            if (!setup_.generic) return refuse();
            return answer(slcan::serialNumberReply(setup_.serial_number));
        case HostLineKind::Empty: return;
        case HostLineKind::Malformed:
        case HostLineKind::Unknown: return refuse();
    }
}

void AdapterProtocol::handleFrameLine(std::string_view line, const can_frame_data& frame) {
    if (!open_) return refuse();
    if (setup_.generic && (line[0] == 'r' || line[0] == 'R')) {
        // Generic adapters know only the short remote form: letter, id, length.
        const std::size_t id_digits = line[0] == 'R' ? 8 : 3;
        if (line.size() > 1 + id_digits + 1) return refuse();
    }
    ++frames_from_host_;
    bus_.deliverFromHost(frame, bit_rate_.load(), *this);
}

bool AdapterProtocol::handleConfiguration(uint8_t action) {
    switch (static_cast<slcan::ConfigurationAction>(action)) {
        case slcan::ConfigurationAction::Save: saved_bit_rate_ = bit_rate_.load(); return true;
        case slcan::ConfigurationAction::Erase: saved_bit_rate_ = setup_.bit_rate; return true;
        case slcan::ConfigurationAction::Reboot:
            bit_rate_ = saved_bit_rate_.load();
            dfu_ = false;
            open_ = true;
            return true;
    }
    return false;
}

bool AdapterProtocol::carries(CANBaudRate rate) const { return open_.load() && bit_rate_.load() == rate; }

void AdapterProtocol::frameToHost(const can_frame_data& frame) {
    char line[slcan::kMaxFrameLineLength];
    const std::size_t length = slcan::encodeFrame(frame, line);
    wire_.writeToHost(std::string_view(line, length));
    ++frames_to_host_;
    observe(Direction::ToHost, std::string_view(line, length - 1), &frame);
}

void AdapterProtocol::answer(std::string_view text) {
    wire_.writeToHost(text);
    const std::size_t end = text.find(slcan::kTerminator);
    observe(Direction::ToHost, text.substr(0, end), nullptr);
}

void AdapterProtocol::refuse() {
    ++refusals_;
    answer(slcan::kRefusedReply);
}

void AdapterProtocol::observe(Direction direction, std::string_view line, const can_frame_data* frame) {
    if (observer_) observer_(TrafficEvent{direction, line, frame, 0});
}

void AdapterProtocol::sendGarbage(unsigned lines, uint32_t seed) {
    std::mt19937 random(seed);
    constexpr std::size_t kPatterns = std::size(kGarbagePatterns);
    for (unsigned i = 0; i < lines; ++i) {
        const std::size_t pick = random() % (kPatterns + 1);
        if (pick < kPatterns) {
            sendRaw(kGarbagePatterns[pick]);
            continue;
        }
        // Random bytes, control characters and bytes above 0x7F included; the
        // first is never a letter that starts a frame or a reply line.
        std::string line(1 + random() % kRandomGarbageMax, '\0');
        for (char& c : line) {
            c = static_cast<char>(random() & 0xFF);
            // One line only, so that no fragment could start a line of its own.
            if (c == slcan::kTerminator) c = '#';
        }
        if (std::string_view("tTrRVHGd").find(line[0]) != std::string_view::npos) line[0] = '#';
        line.push_back(slcan::kTerminator);
        sendRaw(line);
    }
}

void AdapterProtocol::sendRaw(std::string_view bytes) {
    wire_.writeToHost(bytes);
    observe(Direction::ToHost, bytes.substr(0, bytes.find(slcan::kTerminator)), nullptr);
}

}  // namespace kinetra::sim
