#pragma once
// The CAN exchange of the devices' system bootloader as the firmware update uses
// it: standard-identifier frames whose identifier is the command code, answered
// by frames of the same identifier whose first byte acknowledges or refuses.
// Shared by the host's procedure and the simulated bootloader.

#include <array>
#include <cstdint>

namespace kinetra::protocol::bootloader {

constexpr uint32_t kSynchronise = 0x79;
constexpr uint32_t kChangeSpeed = 0x03;
constexpr uint32_t kErase = 0x43;
constexpr uint32_t kWriteMemory = 0x31;
constexpr uint32_t kWriteData = 0x04;
constexpr uint32_t kReadMemory = 0x11;
constexpr uint32_t kGo = 0x21;

constexpr uint8_t kAck = 0x79;
constexpr uint8_t kNack = 0x1F;
/// A refusal may also come as a frame whose identifier is the refusal code.
constexpr uint32_t kNackReply = kNack;

/// The identifiers of the replies matched while an update runs, each carrying
/// one u32: the commands' own identifiers and the refusal.
inline constexpr uint32_t kReplyIds[] = {kChangeSpeed, kNackReply, kGo, kWriteMemory, kErase, kSynchronise};
/// The read-back of a verified update: its frames keep all eight data bytes.
constexpr uint32_t kReadReplyId = kReadMemory;

/// The speed code of the change-speed command for 500 kbit/s.
constexpr uint8_t kSpeedCode500K = 0x03;
/// The erase announcement: one sector number follows.
constexpr uint8_t kEraseOneSector = 0x00;
/// DLC of the write and read commands: address (4 bytes, most significant first), length - 1.
constexpr uint8_t kAddressLengthDlc = 5;
/// DLC of Go: the address, most significant first.
constexpr uint8_t kGoDlc = 4;
/// A data frame carries at most this many bytes; a write or read at most 256.
constexpr std::size_t kDataPerFrame = 8;
constexpr std::size_t kMaxTransfer = 256;

/// The flash sectors of the devices' microcontroller (the STM32F4 layout).
struct Sector {
    uint32_t start;
    uint32_t size;
};
constexpr uint32_t kFlashBase = 0x08000000;
constexpr std::array<Sector, 12> kSectors{{
    {0x08000000, 0x4000},
    {0x08004000, 0x4000},
    {0x08008000, 0x4000},
    {0x0800C000, 0x4000},
    {0x08010000, 0x10000},
    {0x08020000, 0x20000},
    {0x08040000, 0x20000},
    {0x08060000, 0x20000},
    {0x08080000, 0x20000},
    {0x080A0000, 0x20000},
    {0x080C0000, 0x20000},
    {0x080E0000, 0x20000},
}};
/// The update always erases sectors 0 to 9, so an image must lie below this.
constexpr uint8_t kErasedSectorCount = 10;
constexpr uint32_t kErasedEnd = kSectors[kErasedSectorCount - 1].start + kSectors[kErasedSectorCount - 1].size;
constexpr uint32_t kFlashEnd = kSectors.back().start + kSectors.back().size;

}  // namespace kinetra::protocol::bootloader
