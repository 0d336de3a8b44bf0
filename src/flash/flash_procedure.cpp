#include "flash/flash_procedure.h"

#include "devices/protocol/bootloader_protocol.h"
#include "can/bus.h"
#include "devices/protocol/common_commands.h"

#include <algorithm>
#include <chrono>
#include <sstream>

namespace kinetra {
namespace {

namespace boot = protocol::bootloader;
using std::chrono::milliseconds;

constexpr milliseconds kEntryPause{2000};
constexpr milliseconds kBitRatePause{2000};
constexpr milliseconds kSyncPause{1000};
constexpr milliseconds kNewSpeedPause{2000};
constexpr milliseconds kSectorPause{1};
// A bootloader answers a synchronise frame at once; the bound only covers the
// way through the adapter.
constexpr milliseconds kProbeBound{500};
// How often a reply wait looks at the interface and the cancel flag. Neither
// offers the library's procedures a wake-up, so a wait checks them a few times
// a second instead of sleeping through its whole 20 s bound.
constexpr milliseconds kInterfaceWatchSlice{50};

std::string hexAddress(uint64_t address) {
    std::ostringstream text;
    text << "0x" << std::hex << address;
    return text.str();
}

std::string hexByte(uint8_t byte) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    return std::string("0x") + kDigits[byte >> 4] + kDigits[byte & 0x0F];
}

}  // namespace

bool FlashProcedure::Reply::acknowledged() const { return status == RET_OK && byte == boot::kAck; }

ret_status_t FlashProcedure::failure(const Reply& reply, const std::string& step) const {
    if (reply.cancelled) return stopped();
    // The wait's own status when nothing came; a reply that came but refused has
    // no status of its own.
    if (reply.status == RET_OK) {
        answered_ = true;
        refused_byte_ = reply.byte;
        return fail(kRefused, step + ": refused by the bootloader (" + hexByte(reply.byte) + ")",
                    FlashFailure::Refused);
    }
    if (reply.status == RET_TIMEOUT) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(kReplyBound).count();
        return fail(RET_TIMEOUT, step + ": no reply from the bootloader within " + std::to_string(seconds) + " s",
                    FlashFailure::NoReply);
    }
    return fail(reply.status, step + ": the adapter is gone", FlashFailure::AdapterLost);
}

ret_status_t FlashProcedure::fail(ret_status_t status, const std::string& why, FlashFailure reason) const {
    // The first cause is the one to report: a failure exit may pass more.
    if (options_.failure != nullptr && options_.failure->empty()) *options_.failure = why;
    FlashResult* const result = options_.result;
    if (result != nullptr && result->reason == FlashFailure::None) {
        result->step = step_;
        result->reason = reason;
        result->sector = step_ == FlashStep::Erase ? where_ : 0;
        result->address = step_ == FlashStep::Write || step_ == FlashStep::Verify ? where_ : 0;
        result->reply_byte = reason == FlashFailure::Refused ? refused_byte_ : 0;
        result->file_line = reason == FlashFailure::FileProblem ? file_line_ : 0;
        // A start that was not acknowledged leaves the device where it was only
        // when the bootloader refused it; a silent one may have started, and so
        // may one whose acknowledge a cancel stopped waiting for.
        const bool maybe_started = go_sent_ && reason != FlashFailure::Refused;
        result->in_bootloader = (in_bootloader_ || answered_) && !maybe_started;
        result->text = why;
    }
    return status;
}

void FlashProcedure::at(FlashStep step, uint32_t where) {
    step_ = step;
    where_ = where;
}

FlashProcedure::FlashProcedure(Target target, const FlashOptions& options)
    : target_(std::move(target)),
      options_(options),
      clock_(options.clock != nullptr ? *options.clock : systemProcedureClock()) {}

ret_status_t FlashProcedure::run(const std::string& path, bool already_in_dfu) {
    if (options_.failure != nullptr) options_.failure->clear();
    if (options_.result != nullptr) *options_.result = FlashResult{};
    // A device said to be in its bootloader stays there whatever fails.
    in_bootloader_ = already_in_dfu;
    go_sent_ = false;
    Interface& iface = *target_.iface;
    at(FlashStep::Checks);
    if (!already_in_dfu) {
        if (!iface.isRunning()) {
            return fail(RET_NOT_RUNNING, "the interface is not running", FlashFailure::NotRunning);
        }
        if (!iface.isDeviceConnected(target_.node)) {
            return fail(RET_NOT_CONNECTED, "the node is not on the bus", FlashFailure::NodeAbsent);
        }
    }
    at(FlashStep::File);
    LogSink& log = target_.log;
    log.line("[FLASH] Loading firmware file");
    intelhex::hex_data image;
    image.load(path);
    log.line("[FLASH] Loading done");
    if (image.size() == 0) {
        log.line("[FLASH] Invalid Flash File. Please check path/file.");
        const std::string why = image.stopReason() == intelhex::read_stop_t::EndOfFileRecord
                                    ? std::string("it holds no data")
                                    : image.stopDescription();
        if (image.stopReason() != intelhex::read_stop_t::EndOfFileRecord) {
            log.line("[FLASH] Refusing firmware file: ", why, ".");
        }
        file_line_ = image.stopLine();
        return fail(RET_NOT_INITIALISED, "firmware file: " + why, FlashFailure::FileProblem);
    }
    if (!imageAcceptable(image)) return RET_INVALID_ARGUMENT;

    iface.flash_mode = true;
    target_.set_proxy_flash_mode(true);
    const ret_status_t status = runBootloader(image, already_in_dfu);
    // Whatever happened, the adapter ends at the rate the other nodes run at.
    iface.setCANBaudRate(CAN_BAUD_500K);
    if (status == RET_OK) {
        iface.flash_mode = false;
        target_.set_proxy_flash_mode(false);
    }
    return status;
}

bool FlashProcedure::imageAcceptable(const intelhex::hex_data& image) {
    // Half an image written and started is a bricked device reported as a success:
    // only a file read to its end-of-file record is flashed, and only into the
    // sectors the update erases.
    LogSink& log = target_.log;
    const auto refuse = [&](const std::string& why) {
        log.line("[FLASH] Refusing firmware file: ", why, ".");
        file_line_ = image.stopLine();
        fail(RET_INVALID_ARGUMENT, "firmware file: " + why, FlashFailure::FileProblem);
        return false;
    };
    if (image.stopReason() != intelhex::read_stop_t::EndOfFileRecord) return refuse(image.stopDescription());
    for (const auto& block : image.blocks) {
        const uint64_t end = uint64_t{block.first} + block.second.size();
        if (block.first < boot::kFlashBase || end > boot::kErasedEnd) {
            return refuse("data at " + hexAddress(block.first) + " lies outside the flash that is erased");
        }
        if (block.second.size() > boot::kMaxTransfer) {
            return refuse("block at " + hexAddress(block.first) + " is longer than one write");
        }
    }
    return true;
}

ret_status_t FlashProcedure::runBootloader(const intelhex::hex_data& image, bool already_in_dfu) {
    ret_status_t status = enter(already_in_dfu);
    if (status == RET_OK) status = erase();
    if (status == RET_OK) status = write(image);
    if (status == RET_OK && options_.verify) status = verify(image);
    if (status == RET_OK) status = go(image.blocks.begin()->first);
    return status;
}

ret_status_t FlashProcedure::enter(bool already_in_dfu) {
    LogSink& log = target_.log;
    Interface& iface = *target_.iface;
    report(FlashStage::Entering, 0, 1);
    at(FlashStep::Entering);
    if (!already_in_dfu) {
        log.line("Entering DFU Mode");
        can_frame_data entry{};
        entry.can_id = protocol::hostFrameId(target_.node, protocol::common::kEnterDfuMode, protocol::FrameKind::Data);
        entry.can_dlc = 0;
        iface.sendFrame(&entry);
        clock_.sleepFor(kEntryPause);
    } else {
        at(FlashStep::Synchronise);
        const ret_status_t found = findAtUpdateRate();
        if (found == RET_OK) {
            report(FlashStage::Entering, 1, 1);
            return RET_OK;
        }
        if (found != RET_TIMEOUT) return found;
    }
    log.line("Changing Baud rate to 125K");
    iface.setCANBaudRate(CAN_BAUD_125K);
    clock_.sleepFor(kBitRatePause);
    if (cancelled()) return kCancelled;

    at(FlashStep::Synchronise);
    log.line("Sending standard ID");
    target_.replies.arm(boot::kSynchronise);
    send(boot::kSynchronise, {});
    clock_.sleepFor(kSyncPause);
    Reply reply = await();
    target_.replies.disarm();
    if (!reply.acknowledged()) {
        log.line("[FLASH] Initialise failed after DFU.", reply.status);
        return failure(reply, "synchronise");
    }
    log.line("[FLASH] Initialisation Successfull");
    in_bootloader_ = true;
    if (cancelled()) return kCancelled;

    at(FlashStep::SpeedChange);
    log.line("Changing Baud Rate to 1M");
    // Both acknowledges are collected under one arming: the second may come the
    // moment the adapter reaches the new rate.
    target_.replies.arm(boot::kChangeSpeed);
    send(boot::kChangeSpeed, {boot::kSpeedCode500K});
    reply = await();
    if (!reply.acknowledged()) {
        target_.replies.disarm();
        log.line("[FLASH] Change Speed command failed.");
        return failure(reply, "change speed");
    }
    log.line("[FLASH] Change Speed command successfull.");
    iface.setCANBaudRate(CAN_BAUD_500K);
    reply = await();
    target_.replies.disarm();
    if (!reply.acknowledged()) {
        log.line("[FLASH] ACK receive at new speed failed.", reply.status, ":", static_cast<unsigned>(reply.byte));
        return failure(reply, "change speed, acknowledge at the new rate");
    }
    log.line("[FLASH] ACK received at new speed.");
    report(FlashStage::Entering, 1, 1);
    clock_.sleepFor(kNewSpeedPause);
    return RET_OK;
}

ret_status_t FlashProcedure::findAtUpdateRate() {
    // A bootloader that an earlier update left behind after its change of speed
    // (a refused or silent step, an unplugged adapter, a stop) still runs at the
    // update's rate and no longer hears the synchronise frame at 125 kbit/s. So
    // a device said to be in its bootloader is first looked for there, briefly.
    // This is safe either way: a bootloader that is synchronised already answers
    // another synchronise frame (with an acknowledge, or a refusal that shows it
    // is there just as well) and abandons an unfinished command, and any answer
    // at this rate means the speed change is behind it. One that runs at 125
    // kbit/s cannot decode the frame, which the application nodes at this rate
    // ignore (a standard identifier is none of theirs); it is then started at
    // 125 kbit/s as usual.
    LogSink& log = target_.log;
    log.line("[FLASH] Looking for the bootloader at 500K");
    target_.iface->setCANBaudRate(CAN_BAUD_500K);
    target_.replies.arm(boot::kSynchronise);
    send(boot::kSynchronise, {});
    const Reply reply = await(nullptr, kProbeBound);
    target_.replies.disarm();
    if (reply.status == RET_OK) {
        log.line("[FLASH] Bootloader answered at 500K.");
        in_bootloader_ = true;
        return RET_OK;
    }
    if (reply.status != RET_TIMEOUT) return failure(reply, "synchronise at 500 kbit/s");
    log.line("[FLASH] No answer at 500K.");
    return RET_TIMEOUT;
}

ret_status_t FlashProcedure::erase() {
    LogSink& log = target_.log;
    log.line("Erasing");
    for (unsigned sector = 0; sector < boot::kErasedSectorCount; ++sector) {
        at(FlashStep::Erase, sector);
        if (cancelled()) return kCancelled;
        target_.replies.arm(boot::kErase);
        log.line("[FLASH] Erasing sector ", 0);
        send(boot::kErase, {boot::kEraseOneSector});
        Reply reply = await();
        if (!reply.acknowledged()) {
            target_.replies.disarm();
            log.line("[FLASH] Erasing for sector ", 0, " failed.");
            return failure(reply, "erase of sector " + std::to_string(sector));
        }
        log.line("[FLASH] Erasing sector ", sector);
        send(boot::kErase, {static_cast<uint8_t>(sector)});
        reply = await();
        if (!reply.acknowledged()) {
            target_.replies.disarm();
            log.line("[FLASH] Erasing sector ", sector, " message failed.");
            return failure(reply, "erase of sector " + std::to_string(sector));
        }
        log.line("[FLASH] Erasing sector ", sector, " message successful.");
        reply = await();
        target_.replies.disarm();
        if (!reply.acknowledged()) {
            log.line("[FLASH] Erasing sector ", sector, " failed.");
            return failure(reply, "erase of sector " + std::to_string(sector));
        }
        log.line("[FLASH] Erasing sector ", sector, " successful.");
        report(FlashStage::Erasing, sector + 1, boot::kErasedSectorCount);
        clock_.sleepFor(kSectorPause);
    }
    return RET_OK;
}

ret_status_t FlashProcedure::write(const intelhex::hex_data& image) {
    LogSink& log = target_.log;
    uint32_t write_errors = 0;
    uint64_t written = 0;
    const uint64_t total = image.size();
    report(FlashStage::Writing, 0, total);
    for (const auto& block : image.blocks) {
        const uint32_t address = block.first;
        const std::vector<uint8_t>& bytes = block.second;
        const std::string where = hexAddress(address);
        at(FlashStep::Write, address);
        if (cancelled()) return kCancelled;
        log.line("[FLASH] Address:", std::hex, address);
        log.line("[FLASH] Data Size:", std::dec, bytes.size());
        target_.replies.arm(boot::kWriteMemory);
        sendAddressLength(boot::kWriteMemory, address, bytes.size());
        Reply reply = await();
        if (!reply.acknowledged()) {
            target_.replies.disarm();
            log.line("[FLASH] Memory address:", std::hex, address, " is not OK. ", reply.status);
            return failure(reply, "write at " + where);
        }
        log.line("[FLASH] Memory address:", std::hex, address, " is OK.");

        const std::size_t full = bytes.size() / boot::kDataPerFrame * boot::kDataPerFrame;
        for (std::size_t at = 0; at < full; at += boot::kDataPerFrame) {
            if (cancelled()) {
                target_.replies.disarm();
                return kCancelled;
            }
            sendBytes(boot::kWriteData, bytes.data() + at, boot::kDataPerFrame);
            reply = await();
            if (!reply.acknowledged()) {
                target_.replies.disarm();
                log.line("[FLASH] [in loop] Flashing at this memory address failed.", reply.status);
                return failure(reply, "write at " + where);
            }
            log.line("[FLASH] [in loop] Flashing at this memory address successfull.");
            written += boot::kDataPerFrame;
            report(FlashStage::Writing, written, total);
        }
        log.line();
        if (full < bytes.size()) {
            sendBytes(boot::kWriteData, bytes.data() + full, bytes.size() - full);
            reply = await();
            if (!reply.acknowledged()) {
                target_.replies.disarm();
                log.line("[FLASH] [outside loop] Flashing at this memory address failed.", reply.status);
                return failure(reply, "write at " + where);
            }
            log.line("[FLASH] [outside loop] Flashing at this memory address successfull.");
            written += bytes.size() - full;
            report(FlashStage::Writing, written, total);
        }
        reply = await();
        target_.replies.disarm();
        if (reply.cancelled) return failure(reply, "write at " + where);
        if (!reply.acknowledged()) {
            log.line("[FLASH] Writing to memory address failed.", reply.status, ":", static_cast<unsigned>(reply.byte));
            ++write_errors;
        } else {
            log.line("[FLASH] Writing to memory address successfull.");
        }
    }
    log.line("[FLASH] Memory write error count:", write_errors);
    return RET_OK;
}

ret_status_t FlashProcedure::verify(const intelhex::hex_data& image) {
    LogSink& log = target_.log;
    log.line("[FLASH] Verifying");
    uint64_t checked = 0;
    const uint64_t total = image.size();
    report(FlashStage::Verifying, 0, total);
    for (const auto& block : image.blocks) {
        const uint32_t address = block.first;
        const std::vector<uint8_t>& bytes = block.second;
        const std::string where = hexAddress(address);
        at(FlashStep::Verify, address);
        if (cancelled()) return kCancelled;
        target_.replies.arm(boot::kReadMemory);
        sendAddressLength(boot::kReadMemory, address, bytes.size());
        Reply reply = await();
        if (!reply.acknowledged()) {
            target_.replies.disarm();
            log.line("[FLASH] Read memory at 0x", std::hex, address, std::dec, " failed. ", reply.status);
            return failure(reply, "read-back at " + where);
        }
        for (std::size_t at = 0; at < bytes.size(); at += boot::kDataPerFrame) {
            can_frame_data frame{};
            reply = await(&frame);
            if (reply.status != RET_OK) {
                target_.replies.disarm();
                log.line("[FLASH] Read memory at 0x", std::hex, address + at, std::dec, " failed. ", reply.status);
                return failure(reply, "read-back at " + where);
            }
            const std::size_t count = std::min(boot::kDataPerFrame, bytes.size() - at);
            for (std::size_t i = 0; i < count; ++i) {
                const uint8_t read = i < frame.can_dlc ? frame.data[i] : 0;
                if (read != bytes[at + i]) {
                    target_.replies.disarm();
                    log.line("[FLASH] Verify failed at address 0x", std::hex, address + at + i, ": wrote 0x",
                             static_cast<unsigned>(bytes[at + i]), ", read 0x", static_cast<unsigned>(read), std::dec,
                             ".");
                    where_ = static_cast<uint32_t>(address + at + i);
                    return fail(kRefused, "read-back differs from the image at " + hexAddress(address + at + i),
                                FlashFailure::Differs);
                }
            }
        }
        reply = await();
        target_.replies.disarm();
        if (!reply.acknowledged()) {
            log.line("[FLASH] Read memory at 0x", std::hex, address, std::dec, " not finished. ", reply.status);
            return failure(reply, "read-back at " + where);
        }
        checked += bytes.size();
        report(FlashStage::Verifying, checked, total);
    }
    log.line("[FLASH] Verify successful.");
    return RET_OK;
}

ret_status_t FlashProcedure::go(uint32_t address) {
    at(FlashStep::Go);
    if (cancelled()) return kCancelled;
    report(FlashStage::Starting, 0, 1);
    target_.replies.arm(boot::kGo);
    send(boot::kGo, {static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(address >> 16),
                     static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)});
    go_sent_ = true;
    const Reply reply = await();
    target_.replies.disarm();
    if (!reply.acknowledged()) {
        target_.log.line("[FLASH] Go command failed.");
        return failure(reply, "go");
    }
    target_.log.line("[FLASH] Go command successfull.");
    report(FlashStage::Starting, 1, 1);
    return RET_OK;
}

void FlashProcedure::send(uint32_t id, std::initializer_list<uint8_t> data) {
    sendBytes(id, data.begin(), data.size());
}

void FlashProcedure::sendBytes(uint32_t id, const uint8_t* data, std::size_t count) {
    can_frame_data frame{};
    frame.can_id = id;
    frame.can_dlc = static_cast<uint8_t>(count);
    std::copy(data, data + count, frame.data);
    target_.iface->sendFrame(&frame);
}

void FlashProcedure::sendAddressLength(uint32_t id, uint32_t address, std::size_t length) {
    send(id, {static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(address >> 16),
              static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address), static_cast<uint8_t>(length - 1)});
}

FlashProcedure::Reply FlashProcedure::await(can_frame_data* frame, std::chrono::milliseconds bound) {
    can_frame_data received{};
    // Every wait follows a send of this procedure, so the interface's running
    // state tells whether the adapter still carries the frames: once it is gone
    // no reply can come, and the wait ends at the next look instead of its bound.
    // A cancel is looked at as often: a silent bootloader must not hold the
    // caller for the whole bound after it asked to stop.
    using Duration = ProcedureClock::clock::duration;
    Duration left = clock_.replyWait(bound);
    for (;;) {
        if (options_.cancel != nullptr && options_.cancel->load()) return {kCancelled, 0, true};
        if (!target_.iface->isRunning()) {
            target_.log.line("[FLASH] The adapter is gone.");
            return {kAdapterGone, 0};
        }
        const Duration slice = std::min<Duration>(left, kInterfaceWatchSlice);
        if (target_.replies.next(slice, received)) break;
        left -= slice;
        if (left <= Duration::zero()) {
            clock_.replyWaitExpired(bound);
            return {RET_TIMEOUT, 0};
        }
    }
    if (frame != nullptr) *frame = received;
    // A reply without data refuses as surely as one with a wrong first byte.
    const uint8_t byte = received.can_dlc > 0 ? received.data[0] : 0;
    return {RET_OK, byte};
}

bool FlashProcedure::cancelled() const {
    if (options_.cancel == nullptr || !options_.cancel->load()) return false;
    stopped();
    return true;
}

ret_status_t FlashProcedure::stopped() const {
    target_.log.line("[FLASH] Cancelled.");
    return fail(kCancelled, "stopped on request", FlashFailure::Cancelled);
}

void FlashProcedure::report(FlashStage stage, uint64_t done, uint64_t total) const {
    if (options_.progress) options_.progress(FlashProgress{stage, done, total});
}

}  // namespace kinetra
