#include "flash/flash_procedure.h"

#include "devices/protocol/bootloader_protocol.h"
#include "can/bus.h"
#include "devices/protocol/common_commands.h"

#include <algorithm>
#include <chrono>

namespace kinetra {
namespace {

namespace boot = protocol::bootloader;
using std::chrono::milliseconds;

constexpr milliseconds kEntryPause{2000};
constexpr milliseconds kBitRatePause{2000};
constexpr milliseconds kSyncPause{1000};
constexpr milliseconds kNewSpeedPause{2000};
constexpr milliseconds kSectorPause{1};
constexpr milliseconds kReplyBound{20000};

}  // namespace

bool FlashProcedure::Reply::acknowledged() const { return status == RET_OK && byte == boot::kAck; }

ret_status_t FlashProcedure::failure(const Reply& reply) {
    // The wait's own status when nothing came; a reply that came but refused has
    // no status of its own.
    return reply.status != RET_OK ? reply.status : kRefused;
}

FlashProcedure::FlashProcedure(Target target, const FlashOptions& options)
    : target_(std::move(target)),
      options_(options),
      clock_(options.clock != nullptr ? *options.clock : systemProcedureClock()) {}

ret_status_t FlashProcedure::run(const std::string& path, bool already_in_dfu) {
    Interface& iface = *target_.iface;
    if (!already_in_dfu) {
        if (!iface.isRunning()) return RET_NOT_RUNNING;
        if (!iface.isDeviceConnected(target_.node)) return RET_NOT_CONNECTED;
    }
    LogSink& log = target_.log;
    log.line("[FLASH] Loading firmware file");
    intelhex::hex_data image;
    image.load(path);
    log.line("[FLASH] Loading done");
    if (image.size() == 0) {
        log.line("[FLASH] Invalid Flash File. Please check path/file.");
        return RET_NOT_INITIALISED;
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
    if (image.stopReason() != intelhex::read_stop_t::EndOfFileRecord) {
        log.line("[FLASH] Refusing firmware file: reading stopped at a ", intelhex::readStopName(image.stopReason()),
                 ".");
        return false;
    }
    for (const auto& block : image.blocks) {
        const uint64_t end = uint64_t{block.first} + block.second.size();
        if (block.first < boot::kFlashBase || end > boot::kErasedEnd) {
            log.line("[FLASH] Refusing firmware file: data at 0x", std::hex, block.first, std::dec,
                     " lies outside the flash that is erased.");
            return false;
        }
        if (block.second.size() > boot::kMaxTransfer) {
            log.line("[FLASH] Refusing firmware file: block at 0x", std::hex, block.first, std::dec,
                     " is longer than one write.");
            return false;
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
    if (!already_in_dfu) {
        log.line("Entering DFU Mode");
        can_frame_data entry{};
        entry.can_id = protocol::hostFrameId(target_.node, protocol::common::kEnterDfuMode, protocol::FrameKind::Data);
        entry.can_dlc = 0;
        iface.sendFrame(&entry);
        clock_.sleepFor(kEntryPause);
    }
    log.line("Changing Baud rate to 125K");
    iface.setCANBaudRate(CAN_BAUD_125K);
    clock_.sleepFor(kBitRatePause);
    if (cancelled()) return kCancelled;

    log.line("Sending standard ID");
    target_.replies.arm(boot::kSynchronise);
    send(boot::kSynchronise, {});
    clock_.sleepFor(kSyncPause);
    Reply reply = await();
    target_.replies.disarm();
    if (!reply.acknowledged()) {
        log.line("[FLASH] Initialise failed after DFU.", reply.status);
        return failure(reply);
    }
    log.line("[FLASH] Initialisation Successfull");
    if (cancelled()) return kCancelled;

    log.line("Changing Baud Rate to 1M");
    // Both acknowledges are collected under one arming: the second may come the
    // moment the adapter reaches the new rate.
    target_.replies.arm(boot::kChangeSpeed);
    send(boot::kChangeSpeed, {boot::kSpeedCode500K});
    reply = await();
    if (!reply.acknowledged()) {
        target_.replies.disarm();
        log.line("[FLASH] Change Speed command failed.");
        return failure(reply);
    }
    log.line("[FLASH] Change Speed command successfull.");
    iface.setCANBaudRate(CAN_BAUD_500K);
    reply = await();
    target_.replies.disarm();
    if (!reply.acknowledged()) {
        log.line("[FLASH] ACK receive at new speed failed.", reply.status, ":", static_cast<unsigned>(reply.byte));
        return failure(reply);
    }
    log.line("[FLASH] ACK received at new speed.");
    report(FlashStage::Entering, 1, 1);
    clock_.sleepFor(kNewSpeedPause);
    return RET_OK;
}

ret_status_t FlashProcedure::erase() {
    LogSink& log = target_.log;
    log.line("Erasing");
    for (unsigned sector = 0; sector < boot::kErasedSectorCount; ++sector) {
        if (cancelled()) return kCancelled;
        target_.replies.arm(boot::kErase);
        log.line("[FLASH] Erasing sector ", 0);
        send(boot::kErase, {boot::kEraseOneSector});
        Reply reply = await();
        if (!reply.acknowledged()) {
            target_.replies.disarm();
            log.line("[FLASH] Erasing for sector ", 0, " failed.");
            return failure(reply);
        }
        log.line("[FLASH] Erasing sector ", sector);
        send(boot::kErase, {static_cast<uint8_t>(sector)});
        reply = await();
        if (!reply.acknowledged()) {
            target_.replies.disarm();
            log.line("[FLASH] Erasing sector ", sector, " message failed.");
            return failure(reply);
        }
        log.line("[FLASH] Erasing sector ", sector, " message successful.");
        reply = await();
        target_.replies.disarm();
        if (!reply.acknowledged()) {
            log.line("[FLASH] Erasing sector ", sector, " failed.");
            return failure(reply);
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
        if (cancelled()) return kCancelled;
        log.line("[FLASH] Address:", std::hex, address);
        log.line("[FLASH] Data Size:", std::dec, bytes.size());
        target_.replies.arm(boot::kWriteMemory);
        sendAddressLength(boot::kWriteMemory, address, bytes.size());
        Reply reply = await();
        if (!reply.acknowledged()) {
            target_.replies.disarm();
            log.line("[FLASH] Memory address:", std::hex, address, " is not OK. ", reply.status);
            return failure(reply);
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
                return failure(reply);
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
                return failure(reply);
            }
            log.line("[FLASH] [outside loop] Flashing at this memory address successfull.");
            written += bytes.size() - full;
            report(FlashStage::Writing, written, total);
        }
        reply = await();
        target_.replies.disarm();
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
        if (cancelled()) return kCancelled;
        target_.replies.arm(boot::kReadMemory);
        sendAddressLength(boot::kReadMemory, address, bytes.size());
        Reply reply = await();
        if (!reply.acknowledged()) {
            target_.replies.disarm();
            log.line("[FLASH] Read memory at 0x", std::hex, address, std::dec, " failed. ", reply.status);
            return failure(reply);
        }
        for (std::size_t at = 0; at < bytes.size(); at += boot::kDataPerFrame) {
            can_frame_data frame{};
            reply = await(&frame);
            if (reply.status != RET_OK) {
                target_.replies.disarm();
                log.line("[FLASH] Read memory at 0x", std::hex, address + at, std::dec, " failed. ", reply.status);
                return failure(reply);
            }
            const std::size_t count = std::min(boot::kDataPerFrame, bytes.size() - at);
            for (std::size_t i = 0; i < count; ++i) {
                const uint8_t read = i < frame.can_dlc ? frame.data[i] : 0;
                if (read != bytes[at + i]) {
                    target_.replies.disarm();
                    log.line("[FLASH] Verify failed at address 0x", std::hex, address + at + i, ": wrote 0x",
                             static_cast<unsigned>(bytes[at + i]), ", read 0x", static_cast<unsigned>(read), std::dec,
                             ".");
                    return kRefused;
                }
            }
        }
        reply = await();
        target_.replies.disarm();
        if (!reply.acknowledged()) {
            log.line("[FLASH] Read memory at 0x", std::hex, address, std::dec, " not finished. ", reply.status);
            return failure(reply);
        }
        checked += bytes.size();
        report(FlashStage::Verifying, checked, total);
    }
    log.line("[FLASH] Verify successful.");
    return RET_OK;
}

ret_status_t FlashProcedure::go(uint32_t address) {
    if (cancelled()) return kCancelled;
    report(FlashStage::Starting, 0, 1);
    target_.replies.arm(boot::kGo);
    send(boot::kGo, {static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(address >> 16),
                     static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)});
    const Reply reply = await();
    target_.replies.disarm();
    if (!reply.acknowledged()) {
        target_.log.line("[FLASH] Go command failed.");
        return failure(reply);
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

FlashProcedure::Reply FlashProcedure::await(can_frame_data* frame) {
    can_frame_data received{};
    if (!target_.replies.next(clock_.replyWait(kReplyBound), received)) {
        clock_.replyWaitExpired(kReplyBound);
        return {RET_TIMEOUT, 0};
    }
    if (frame != nullptr) *frame = received;
    // A reply without data refuses as surely as one with a wrong first byte.
    const uint8_t byte = received.can_dlc > 0 ? received.data[0] : 0;
    return {RET_OK, byte};
}

bool FlashProcedure::cancelled() const {
    if (options_.cancel == nullptr || !options_.cancel->load()) return false;
    target_.log.line("[FLASH] Cancelled.");
    return true;
}

void FlashProcedure::report(FlashStage stage, uint64_t done, uint64_t total) const {
    if (options_.progress) options_.progress(FlashProgress{stage, done, total});
}

}  // namespace kinetra
