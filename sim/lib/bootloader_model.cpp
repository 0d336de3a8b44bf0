#include "kinetra_sim/bootloader_model.h"

#include "devices/protocol/bootloader_protocol.h"

#include <algorithm>
#include <array>
#include <string>

namespace kinetra::sim {
namespace {

namespace boot = protocol::bootloader;
using std::chrono::microseconds;

constexpr std::array<const char*, 6> kStepNames{"synchronise", "speed", "erase", "write", "read", "go"};
constexpr std::array<const char*, 7> kFaultNames{"none",   "refuse",  "refuse-final", "silent",
                                                 "drop-ack", "corrupt", "reboot"};
constexpr std::array<uint8_t, 4> kVersionMagic{'K', 'F', 'W', 'V'};
// Typical sector erase times of a real part.
constexpr microseconds kErase16K{250000};
constexpr microseconds kErase64K{550000};
constexpr microseconds kErase128K{1000000};

}  // namespace

const char* bootStepName(BootStep step) { return kStepNames[static_cast<std::size_t>(step)]; }
const char* bootFaultName(BootFault fault) { return kFaultNames[static_cast<std::size_t>(fault)]; }

std::optional<BootStep> bootStepFromName(const std::string& name) {
    for (std::size_t i = 0; i < kStepNames.size(); ++i) {
        if (name == kStepNames[i]) return static_cast<BootStep>(i);
    }
    return std::nullopt;
}

std::optional<BootFault> bootFaultFromName(const std::string& name) {
    for (std::size_t i = 0; i < kFaultNames.size(); ++i) {
        if (name == kFaultNames[i]) return static_cast<BootFault>(i);
    }
    return std::nullopt;
}

BootloaderModel::BootloaderModel(BootTiming timing)
    : timing_(timing), flash_(boot::kFlashEnd - boot::kFlashBase, 0xFF) {}

void BootloaderModel::restart() {
    state_ = State::WaitSync;
    rate_ = CAN_BAUD_125K;
    write_bytes_.clear();
}

void BootloaderModel::hang() {
    // A hung bootloader is restarted by its watchdog: silent, then back at 125 kbit/s.
    restart();
}

void BootloaderModel::inject(BootStep step, BootFault fault) {
    if (fault == BootFault::None) {
        faults_.erase(step);
    } else {
        faults_[step] = fault;
    }
}

BootFault BootloaderModel::takeFault(BootStep step) {
    const auto found = faults_.find(step);
    if (found == faults_.end()) return BootFault::None;
    const BootFault fault = found->second;
    faults_.erase(found);
    return fault;
}

BootloaderModel::Output BootloaderModel::ack(uint32_t id, uint8_t byte, microseconds delay) const {
    Output out;
    out.frame.can_id = id;
    out.frame.can_dlc = 1;
    out.frame.data[0] = byte;
    out.delay = delay;
    out.rate = rate_;
    return out;
}

BootloaderModel::Result BootloaderModel::receive(const can_frame_data& frame) {
    Result result;
    switch (frame.can_id) {
        case boot::kSynchronise: handleSync(result); break;
        case boot::kChangeSpeed:
            if (state_ != State::WaitSync) handleSpeed(frame, result);
            break;
        case boot::kErase:
            if (state_ == State::Ready || state_ == State::EraseSector) handleErase(frame, result);
            break;
        case boot::kWriteMemory:
            if (state_ == State::Ready) handleWriteCommand(frame, result);
            break;
        case boot::kWriteData:
            if (state_ == State::WriteData) handleWriteData(frame, result);
            break;
        case boot::kReadMemory:
            if (state_ == State::Ready) handleRead(frame, result);
            break;
        case boot::kGo:
            if (state_ == State::Ready) handleGo(frame, result);
            break;
        default: break;  // not a command of this bootloader
    }
    result.rate = rate_;
    return result;
}

void BootloaderModel::handleSync(Result& result) {
    const BootFault fault = takeFault(BootStep::Synchronise);
    if (fault == BootFault::Silent) return hang();
    if (fault == BootFault::DropAck) return;
    // Synchronised again at whatever rate it runs: a command left unfinished by
    // a host that went away (a write short of its bytes, an erase without its
    // sector number) is abandoned, and nothing of it is programmed.
    state_ = State::Ready;
    write_bytes_.clear();
    write_fault_ = BootFault::None;
    result.replies.push_back(ack(boot::kSynchronise, fault == BootFault::Refuse ? boot::kNack : boot::kAck));
}

void BootloaderModel::handleSpeed(const can_frame_data& frame, Result& result) {
    const BootFault fault = takeFault(BootStep::ChangeSpeed);
    if (fault == BootFault::Silent) return hang();
    if (frame.can_dlc != 1 || frame.data[0] != boot::kSpeedCode500K || fault == BootFault::Refuse) {
        result.replies.push_back(ack(boot::kChangeSpeed, boot::kNack));
        return;
    }
    if (fault != BootFault::DropAck) result.replies.push_back(ack(boot::kChangeSpeed, boot::kAck));
    rate_ = CAN_BAUD_500K;
    result.replies.push_back(ack(boot::kChangeSpeed, fault == BootFault::RefuseFinal ? boot::kNack : boot::kAck,
                                 timing_.new_speed_ack_delay));
}

void BootloaderModel::handleErase(const can_frame_data& frame, Result& result) {
    if (frame.can_dlc != 1) {
        result.replies.push_back(ack(boot::kErase, boot::kNack));
        return;
    }
    if (state_ == State::Ready) {
        // The announcement: how many sector numbers follow, less one.
        const BootFault fault = takeFault(BootStep::Erase);
        if (fault == BootFault::Silent) return hang();
    if (fault == BootFault::DropAck) return;
        const bool refused = fault == BootFault::Refuse || frame.data[0] != boot::kEraseOneSector;
        if (!refused) state_ = State::EraseSector;
        if (fault == BootFault::RefuseFinal) write_fault_ = fault;
        result.replies.push_back(ack(boot::kErase, refused ? boot::kNack : boot::kAck));
        return;
    }
    state_ = State::Ready;
    const uint8_t sector = frame.data[0];
    if (sector >= boot::kSectors.size()) {
        result.replies.push_back(ack(boot::kErase, boot::kNack));
        return;
    }
    result.replies.push_back(ack(boot::kErase, boot::kAck));
    application_intact_ = false;
    const boot::Sector& s = boot::kSectors[sector];
    std::fill_n(flash_.begin() + (s.start - boot::kFlashBase), s.size, uint8_t{0xFF});
    ++sectors_erased_;
    const bool refuse_final = write_fault_ == BootFault::RefuseFinal;
    write_fault_ = BootFault::None;
    result.replies.push_back(ack(boot::kErase, refuse_final ? boot::kNack : boot::kAck, eraseTime(sector)));
}

microseconds BootloaderModel::eraseTime(uint8_t sector) const {
    const uint32_t size = boot::kSectors[sector].size;
    const microseconds typical = size <= 0x4000 ? kErase16K : size <= 0x10000 ? kErase64K : kErase128K;
    return microseconds(static_cast<microseconds::rep>(static_cast<double>(typical.count()) * timing_.erase_time_scale));
}

bool BootloaderModel::addressLength(const can_frame_data& frame, uint32_t& address, std::size_t& length) {
    if (frame.can_dlc != boot::kAddressLengthDlc) return false;
    address = static_cast<uint32_t>(frame.data[0]) << 24 | static_cast<uint32_t>(frame.data[1]) << 16 |
              static_cast<uint32_t>(frame.data[2]) << 8 | frame.data[3];
    length = static_cast<std::size_t>(frame.data[4]) + 1;
    return true;
}

bool BootloaderModel::inFlash(uint32_t address, std::size_t length) {
    return address >= boot::kFlashBase && uint64_t{address} + length <= boot::kFlashEnd;
}

void BootloaderModel::handleWriteCommand(const can_frame_data& frame, Result& result) {
    const BootFault fault = takeFault(BootStep::Write);
    if (fault == BootFault::Silent) return hang();
    if (fault == BootFault::DropAck) return;
    uint32_t address = 0;
    std::size_t length = 0;
    if (fault == BootFault::Refuse || !addressLength(frame, address, length) || !inFlash(address, length)) {
        result.replies.push_back(ack(boot::kWriteMemory, boot::kNack));
        return;
    }
    write_fault_ = fault;
    write_address_ = address;
    write_length_ = length;
    write_bytes_.clear();
    state_ = State::WriteData;
    result.replies.push_back(ack(boot::kWriteMemory, boot::kAck));
}

void BootloaderModel::handleWriteData(const can_frame_data& frame, Result& result) {
    if (write_fault_ == BootFault::RebootMidWrite) {
        write_fault_ = BootFault::None;
        restart();
        result.rebooted = true;
        return;
    }
    const std::size_t take = std::min<std::size_t>(frame.can_dlc, write_length_ - write_bytes_.size());
    write_bytes_.insert(write_bytes_.end(), frame.data, frame.data + take);
    result.replies.push_back(ack(boot::kWriteMemory, boot::kAck));
    if (write_bytes_.size() < write_length_) return;

    state_ = State::Ready;
    const std::size_t offset = write_address_ - boot::kFlashBase;
    // Flash bits only go from 1 to 0: a byte that is not erased cannot be written.
    const bool erased = std::all_of(flash_.begin() + static_cast<std::ptrdiff_t>(offset),
                                    flash_.begin() + static_cast<std::ptrdiff_t>(offset + write_length_),
                                    [](uint8_t b) { return b == 0xFF; });
    if (erased) {
        std::copy(write_bytes_.begin(), write_bytes_.end(), flash_.begin() + static_cast<std::ptrdiff_t>(offset));
        if (write_fault_ == BootFault::CorruptByte) flash_[offset] ^= 0x01;
    }
    const bool refused = !erased || write_fault_ == BootFault::RefuseFinal;
    write_fault_ = BootFault::None;
    result.replies.push_back(ack(boot::kWriteMemory, refused ? boot::kNack : boot::kAck));
}

void BootloaderModel::handleRead(const can_frame_data& frame, Result& result) {
    const BootFault fault = takeFault(BootStep::Read);
    if (fault == BootFault::Silent) return hang();
    if (fault == BootFault::DropAck) return;
    uint32_t address = 0;
    std::size_t length = 0;
    if (fault == BootFault::Refuse || !addressLength(frame, address, length) || !inFlash(address, length)) {
        result.replies.push_back(ack(boot::kReadMemory, boot::kNack));
        return;
    }
    result.replies.push_back(ack(boot::kReadMemory, boot::kAck));
    const std::vector<uint8_t> bytes = read(address, length);
    for (std::size_t at = 0; at < bytes.size(); at += boot::kDataPerFrame) {
        Output out = ack(boot::kReadMemory, 0);
        out.frame.can_dlc = static_cast<uint8_t>(std::min(boot::kDataPerFrame, bytes.size() - at));
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), out.frame.can_dlc, out.frame.data);
        result.replies.push_back(out);
    }
    result.replies.push_back(ack(boot::kReadMemory, fault == BootFault::RefuseFinal ? boot::kNack : boot::kAck));
}

void BootloaderModel::handleGo(const can_frame_data& frame, Result& result) {
    const BootFault fault = takeFault(BootStep::Go);
    if (fault == BootFault::Silent) return hang();
    if (fault == BootFault::DropAck) return;
    const uint32_t address = static_cast<uint32_t>(frame.data[0]) << 24 | static_cast<uint32_t>(frame.data[1]) << 16 |
                             static_cast<uint32_t>(frame.data[2]) << 8 | frame.data[3];
    if (fault == BootFault::Refuse || frame.can_dlc != boot::kGoDlc || !inFlash(address, 1)) {
        result.replies.push_back(ack(boot::kGo, boot::kNack));
        return;
    }
    go_address_ = address;
    application_intact_ = true;
    result.replies.push_back(ack(boot::kGo, boot::kAck));
    result.started = true;
    restart();
}

std::vector<uint8_t> BootloaderModel::read(uint32_t address, std::size_t count) const {
    if (!inFlash(address, count)) return {};
    const auto from = flash_.begin() + static_cast<std::ptrdiff_t>(address - boot::kFlashBase);
    return std::vector<uint8_t>(from, from + static_cast<std::ptrdiff_t>(count));
}

std::optional<ImageVersion> BootloaderModel::imageVersion() const {
    const std::vector<uint8_t> record = read(kVersionAddress, 8);
    if (!std::equal(kVersionMagic.begin(), kVersionMagic.end(), record.begin())) return std::nullopt;
    return ImageVersion{record[4], record[5], static_cast<uint16_t>(record[6] | record[7] << 8)};
}

}  // namespace kinetra::sim
