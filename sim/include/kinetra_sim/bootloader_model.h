#pragma once
/// @file bootloader_model.h
/// The system bootloader of a simulated driver or actuator: the CAN exchange the
/// firmware update speaks (synchronise, change speed, erase, write memory, read
/// memory, Go), a simulated flash with the STM32F4 sector layout, and one-shot
/// faults per step. Pure: frames in, replies out; the node puts them on the bus.
///
/// The application's firmware version is read from the image at Go: the eight
/// bytes at kVersionAddress are "KFWV", major, minor and the patch as a 16-bit
/// little-endian number. An image without them leaves the version unchanged.

#include <kinetra/can_frame.h>
#include <kinetra/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace kinetra::sim {

/// The steps a fault can be injected into.
enum class BootStep : uint8_t { Synchronise, ChangeSpeed, Erase, Write, Read, Go };
/// One-shot faults: each applies to the next time its step runs, then clears.
enum class BootFault : uint8_t {
    None,
    Refuse,          ///< the step's first acknowledge becomes a refusal
    RefuseFinal,     ///< the step's last acknowledge becomes a refusal
    Silent,          ///< the step is not answered: the bootloader hangs and its watchdog
                     ///< restarts it (125 kbit/s, waiting for the synchronise frame)
    DropAck,         ///< the step's first acknowledge is not sent
    CorruptByte,     ///< the first byte a write programs is stored with a flipped bit
    RebootMidWrite,  ///< the device restarts (into its bootloader) at a write's first data frame
};

/// "synchronise", "speed", "erase", "write", "read", "go".
const char* bootStepName(BootStep step);
/// "none", "refuse", "refuse-final", "silent", "drop-ack", "corrupt", "reboot".
const char* bootFaultName(BootFault fault);
/// The step or fault of a name above; nullopt for another name.
std::optional<BootStep> bootStepFromName(const std::string& name);
std::optional<BootFault> bootFaultFromName(const std::string& name);

/// How long the bootloader's work takes.
struct BootTiming {
    /// Scales the erase times of a real part (about 0.25 s for a 16 KiB sector,
    /// 0.55 s for 64 KiB, 1 s for 128 KiB); 0 erases at once.
    double erase_time_scale = 1.0;
    /// Between the change-speed acknowledge at the old rate and the one at the
    /// new rate: the time the host has to move its adapter.
    std::chrono::microseconds new_speed_ack_delay{100000};
    /// How long a restart mid-write keeps the device silent.
    std::chrono::milliseconds reboot_silence{300};
};

/// The version the image announces.
struct ImageVersion {
    uint8_t major = 0;
    uint8_t minor = 0;
    uint16_t patch = 0;
};

class BootloaderModel {
public:
    static constexpr uint32_t kVersionAddress = 0x08000200;

    /// One frame to send: after `delay`, and at `rate` (the node switches first).
    struct Output {
        can_frame_data frame{};
        std::chrono::microseconds delay{0};
        CANBaudRate rate = CAN_BAUD_125K;
    };
    /// What one received frame leads to.
    struct Result {
        std::vector<Output> replies;
        /// The node's bit rate from now on.
        CANBaudRate rate = CAN_BAUD_125K;
        /// Go was acknowledged: the application starts at `go_address`.
        bool started = false;
        /// The device restarted mid-write and is silent for the boot time.
        bool rebooted = false;
    };

    explicit BootloaderModel(BootTiming timing = {});

    /// Starts the bootloader afresh (entry from the application or a restart):
    /// 125 kbit/s, waiting for the synchronise frame. The flash keeps its bytes.
    void restart();
    /// Handles one standard-identifier frame from the host.
    Result receive(const can_frame_data& frame);

    /// Arms a one-shot fault for the next run of `step`; None clears it.
    void inject(BootStep step, BootFault fault);
    void setTiming(const BootTiming& timing) { timing_ = timing; }
    const BootTiming& timing() const { return timing_; }

    /// The rate the bootloader runs at.
    CANBaudRate rate() const { return rate_; }
    /// The simulated flash from 0x08000000 (erased bytes are 0xFF).
    const std::vector<uint8_t>& flash() const { return flash_; }
    /// The bytes at [address, address + count), or empty when outside the flash.
    std::vector<uint8_t> read(uint32_t address, std::size_t count) const;
    /// The address of the last acknowledged Go.
    uint32_t goAddress() const { return go_address_; }
    /// Whether the flash holds a whole application: true for the factory image,
    /// false from an update's first erased sector until its acknowledged Go. A
    /// device restarted without one stays in its bootloader.
    bool applicationIntact() const { return application_intact_; }
    /// The version the flashed image announces, if it does.
    std::optional<ImageVersion> imageVersion() const;
    /// Frames written, erases done: counters for tests.
    uint64_t sectorsErased() const { return sectors_erased_; }

private:
    enum class State { WaitSync, Ready, EraseSector, WriteData };

    BootFault takeFault(BootStep step);
    void hang();
    Output ack(uint32_t id, uint8_t byte, std::chrono::microseconds delay = std::chrono::microseconds(0)) const;
    void handleSync(Result& result);
    void handleSpeed(const can_frame_data& frame, Result& result);
    void handleErase(const can_frame_data& frame, Result& result);
    void handleWriteCommand(const can_frame_data& frame, Result& result);
    void handleWriteData(const can_frame_data& frame, Result& result);
    void handleRead(const can_frame_data& frame, Result& result);
    void handleGo(const can_frame_data& frame, Result& result);
    static bool addressLength(const can_frame_data& frame, uint32_t& address, std::size_t& length);
    static bool inFlash(uint32_t address, std::size_t length);
    std::chrono::microseconds eraseTime(uint8_t sector) const;

    BootTiming timing_;
    std::vector<uint8_t> flash_;
    std::map<BootStep, BootFault> faults_;
    State state_ = State::WaitSync;
    CANBaudRate rate_ = CAN_BAUD_125K;
    BootFault write_fault_ = BootFault::None;
    uint32_t write_address_ = 0;
    std::size_t write_length_ = 0;
    std::vector<uint8_t> write_bytes_;
    uint32_t go_address_ = 0;
    uint64_t sectors_erased_ = 0;
    bool application_intact_ = true;
};

}  // namespace kinetra::sim
