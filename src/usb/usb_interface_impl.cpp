#include "usb/usb_interface_impl.h"

#include <algorithm>
#include <exception>
#include <kinetra/message_sink.h>
#include <string_view>

namespace {

using kinetra::slcan::DecodedLine;
using kinetra::slcan::LineKind;

constexpr uint32_t kAdapterBaudRate = 115200;
constexpr uint32_t kReadTimeoutMs = 1000;
constexpr uint32_t kWriteTimeoutMs = 1000;
// The adapter answers a query well within this; after it the query gives up.
constexpr auto kReplyWait = std::chrono::milliseconds(1001);
// A read that fails (port gone) or ends empty at once is not retried sooner than
// this, so the receive thread never spins while closeInterface() stays prompt.
constexpr auto kMinReadPause = std::chrono::milliseconds(100);

const char* const kTerminatorString = "\r";
// Reads of bells alone before the receive path gives the thread back.
constexpr int kMaxBellRounds = 4;

}  // namespace

USBInterface::USBInterfaceImpl::USBInterfaceImpl(kinetra::LogSink& log, bool require_kinetra_description)
    : serial("", 9600, serial::Timeout(), serial::eightbits, serial::parity_none, serial::stopbits_one,
             serial::flowcontrol_none),
      log_(log),
      require_kinetra_description_(require_kinetra_description) {
    line_.reserve(kinetra::slcan::kMaxLineLength);
}

unsigned char USBInterface::USBInterfaceImpl::init(const std::string& port) {
    closing_.reset();
    try {
        serial.setPort(port);
        serial.setBaudrate(kAdapterBaudRate);
        serial.setTimeout(serial::Timeout(serial::Timeout::max(), kReadTimeoutMs, 0, kWriteTimeoutMs, 0));
        serial.open();
    } catch (const std::exception& error) {
        kinetra::writeMessage("USB Communication Error. Please check if the selected interface " + port + " is okay.");
        kinetra::writeMessage(error.what());
        throw;
    }

    if (require_kinetra_description_) {
        const std::string description = getDeviceDescription(port);
        if (!isKinetraAdapterDescription(description)) {
            kinetra::writeMessage("No Compatible Kinetra Device found ");
            // Left open, the port would make the next initInterface() on this
            // object fail with "already open" and keep another program out.
            close();
            throw NoCompatibleDeviceException();
        }
    }

    if (!serial.isOpen()) {
        log_.line("USB Serial Interface is not open or it does not exist.");
        return 0;
    }
    // A generic adapter passes no frame before its channel is opened, and may
    // still be open at another rate from an earlier program: close, set, open.
    if (generic_setup_) {
        const CANBaudRate rate = generic_bit_rate_.load();
        if (!kinetra::slcan::isValidBitRate(rate)) {
            log_.line("Unknown CAN bit rate for the SLCAN adapter: ", int(rate));
            return 0;
        }
        const std::string setup = kinetra::slcan::setBitRateCommand(rate);
        if (!writeLine(setup.data(), setup.size())) {
            log_.line("Could not set up the SLCAN adapter's channel.");
            return 0;
        }
    }
    return 1;
}

void USBInterface::USBInterfaceImpl::useGenericSetup(CANBaudRate bit_rate) {
    generic_setup_ = true;
    generic_bit_rate_ = bit_rate;
    remote_form_ = kinetra::slcan::RemoteForm::Short;
}

void USBInterface::USBInterfaceImpl::close() {
    closing_.request();
    try {
        serial.close();
    } catch (const std::exception& error) {
        // Runs from destructors: a failing close must not end the program.
        log_.line("Error while closing the USB port: ", error.what());
    }
}

std::string USBInterface::USBInterfaceImpl::getDeviceDescription(std::string port) {
    try {
        for (const serial::PortInfo& info : serial::list_ports()) {
            if (info.port == port) return info.description;
        }
    } catch (const std::exception& error) {
        log_.line("Could not list the serial ports: ", error.what());
    }
    return {};
}

bool USBInterface::USBInterfaceImpl::writeLine(const char* data, std::size_t length) {
    // A closed port is left to the serial layer, whose refusal is logged like any
    // other write failure: a caller that logs sees why nothing went out.
    try {
        return serial.write(reinterpret_cast<const uint8_t*>(data), length) == length;
    } catch (const std::exception&) {
        log_.line("Exception on USB write");
        return false;
    }
}

bool USBInterface::USBInterfaceImpl::send(const can_frame_data& frame) {
    char line[kinetra::slcan::kMaxFrameLineLength];
    return writeLine(line, kinetra::slcan::encodeFrame(frame, line, remote_form_));
}

bool USBInterface::USBInterfaceImpl::sendBatch(const can_frame_data* frames, std::size_t count) {
    // On the stack: a control cycle sends every period and must not allocate.
    char lines[kBatchLines * kinetra::slcan::kMaxFrameLineLength];
    for (std::size_t first = 0; first < count; first += kBatchLines) {
        const std::size_t last = std::min(count, first + kBatchLines);
        std::size_t length = 0;
        for (std::size_t i = first; i < last; ++i) {
            length += kinetra::slcan::encodeFrame(frames[i], lines + length, remote_form_);
        }
        if (!writeLine(lines, length)) return false;
    }
    return true;
}

ret_interface_t USBInterface::USBInterfaceImpl::command(const std::string& line) {
    return writeLine(line.data(), line.size()) ? RET_INTERFACE_OK : RET_INTERFACE_FAIL;
}

int USBInterface::USBInterfaceImpl::awaitedIndex(LineKind kind) {
    switch (kind) {
        case LineKind::FirmwareVersion: return 0;
        case LineKind::HardwareVersion: return 1;
        case LineKind::BitRate: return 2;
        default: return -1;
    }
}

ret_interface_t USBInterface::USBInterfaceImpl::query(const std::string& line, LineKind reply,
                                                      const std::function<bool()>& copy_out) {
    const int index = awaitedIndex(reply);
    if (index < 0) return RET_INTERFACE_FAIL;

    std::lock_guard<std::mutex> one_query_at_a_time(query_mutex_);
    uint32_t seen_before = 0;
    {
        std::lock_guard<std::mutex> lock(reply_mutex_);
        response_received.store(false);
        seen_before = replies_seen_[index];
    }
    if (!writeLine(line.data(), line.size())) return RET_INTERFACE_FAIL;

    std::unique_lock<std::mutex> lock(reply_mutex_);
    const bool answered = reply_arrived_.wait_until(lock, std::chrono::steady_clock::now() + kReplyWait,
                                                    [&] { return replies_seen_[index] != seen_before; });
    if (!answered) {
        lock.unlock();
        kinetra::writeMessage("API Timeout Error. Make sure your Zarvo is updated to the latest firmware.");
        return RET_INTERFACE_FAIL;
    }
    return copy_out() ? RET_INTERFACE_OK : RET_INTERFACE_FAIL;
}

void USBInterface::USBInterfaceImpl::storeReply(const DecodedLine& reply) {
    const std::string_view tag(reply.tag.data(), reply.tag.size());
    switch (reply.kind) {
        case LineKind::FirmwareVersion:
            log_.line("Got version info: ", int(reply.major), ".", int(reply.minor), ".", int(reply.patch), "--",
                      tag);
            break;
        case LineKind::HardwareVersion:
            log_.line("Got hardware version info: ", int(reply.major), ".", int(reply.minor), ".",
                      int(reply.patch));
            break;
        case LineKind::BitRate: log_.line("Got CAN Baud Rate : ", int(reply.baud_code)); break;
        default: log_.line("Got DFU mode info: "); break;
    }

    {
        std::lock_guard<std::mutex> lock(reply_mutex_);
        switch (reply.kind) {
            case LineKind::FirmwareVersion:
                firmware_major = reply.major;
                firmware_minor = reply.minor;
                firmware_patch = reply.patch;
                firmware_tag.assign(tag);
                break;
            case LineKind::HardwareVersion:
                hardware_major = reply.major;
                hardware_minor = reply.minor;
                hardware_patch = reply.patch;
                break;
            case LineKind::BitRate: adapter_baud_code.store(reply.baud_code); break;
            default: break;
        }
        const int index = awaitedIndex(reply.kind);
        if (index >= 0) ++replies_seen_[index];
        // Last, so that whoever sees the flag also sees the values.
        response_received.store(true);
    }
    reply_arrived_.notify_all();
}

void USBInterface::USBInterfaceImpl::logRejectedLine(LineKind kind) {
    switch (kind) {
        case LineKind::BadLength: log_.line("\nDLC is not proper, skipping frame parse."); break;
        case LineKind::Truncated: log_.line("Skipping truncated line."); break;
        case LineKind::TooLong: log_.line("Skipping frame line longer than its length digit says."); break;
        case LineKind::BadDigit: log_.line("Skipping frame line with a character that is not a hex digit."); break;
        case LineKind::Refused: log_.line("Adapter refused a command."); break;
        case LineKind::Unknown: log_.line("Skipping unrecognised line."); break;
        // A bare terminator is the adapter's normal acknowledgement of a command.
        default: break;
    }
}

void USBInterface::USBInterfaceImpl::pace(std::chrono::steady_clock::time_point read_started) {
    // Interrupted by close(), so closing never waits out the pause.
    const auto left = read_started + kMinReadPause - std::chrono::steady_clock::now();
    if (left > std::chrono::steady_clock::duration::zero()) closing_.waitFor(left);
}

bool USBInterface::USBInterfaceImpl::readLine(bool& refused) {
    line_.clear();
    // The bell that refuses a command comes without a terminator, so bells may
    // lead the next line. They are dropped as they arrive and do not count
    // against the line limit, or a reply behind a few bells would be cut. A port
    // that sends nothing but bells still ends the call after a few rounds.
    for (int round = 0; round < kMaxBellRounds; ++round) {
        const std::size_t room = kinetra::slcan::kMaxLineLength - line_.size();
        const std::size_t got = serial.readline(line_, room, kTerminatorString);
        if (got == 0) return !line_.empty() || refused;
        const std::size_t bells = std::min(line_.find_first_not_of(kinetra::slcan::kBell), line_.size());
        if (bells > 0) {
            refused = true;
            line_.erase(0, bells);
        }
        if (line_.empty()) continue;
        // Ended by its terminator or cut by the time-out, or full without any
        // bell to make room for: the line is what it is.
        if (line_.back() == kinetra::slcan::kTerminator || got < room || bells == 0) return true;
        // The bells dropped left room: read the rest of the line into it.
    }
    return true;
}

bool USBInterface::USBInterfaceImpl::receive(can_frame_data& frame) {
    const auto read_started = std::chrono::steady_clock::now();
    bool refused = false;
    try {
        if (!readLine(refused)) {
            // Normally a full read time-out has passed; an empty read that came
            // back at once must not turn the receive loop into a spin.
            pace(read_started);
            return false;
        }
    } catch (const std::exception& error) {
        // A read aborted by close() is no failure; any other error means the port
        // failed or vanished, which the interface reports as the adapter lost.
        if (closing_.requested()) return false;
        log_.line("Error during USB read: ", error.what());
        throw;
    }
    if (refused) logRejectedLine(LineKind::Refused);
    if (line_.empty()) return false;
    const std::string_view rest(line_);

    const DecodedLine decoded = kinetra::slcan::decodeLine(rest);
    switch (decoded.kind) {
        case LineKind::Frame: frame = decoded.frame; return true;
        case LineKind::FirmwareVersion:
        case LineKind::HardwareVersion:
        case LineKind::BitRate:
        case LineKind::DfuInfo: storeReply(decoded); return false;
        case LineKind::GenericVersion:
        case LineKind::SerialNumber:
            // A generic adapter's identity: no query of this transport waits for it.
            log_.line("Adapter identity: ", decoded.kind == LineKind::SerialNumber ? 'N' : 'V',
                      std::string_view(decoded.tag.data(), kinetra::slcan::kGenericReplyCharacters));
            return false;
        default: logRejectedLine(decoded.kind); return false;
    }
}
