#pragma once
// The firmware update of a motor driver or actuator, written once for both: it
// sends the device into its bootloader, moves the adapter to the bootloader's bit
// rates, erases the flash, writes the image block by block, optionally reads it
// back, and starts the new firmware. Every pause and reply wait goes through a
// ProcedureClock, so tests run the whole sequence, 20-second waits included, in
// milliseconds.

#include <kinetra/flash_options.h>
#include <kinetra/intel_hex.h>
#include <kinetra/interface.h>
#include <kinetra/types.h>

#include "flash/flash_replies.h"
#include "interface/log_sink.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace kinetra {

class FlashProcedure {
public:
    /// The status of a step the bootloader answered with a refusal, and of a
    /// read-back that differs from the image.
    static constexpr ret_status_t kRefused = RET_NOT_CONNECTED;
    /// The status of a cancelled update.
    static constexpr ret_status_t kCancelled = RET_NOT_RUNNING;
    /// The status of an update whose adapter went away (unplugged, port failed).
    static constexpr ret_status_t kAdapterGone = RET_NOT_RUNNING;
    /// How long the bootloader has to answer one step.
    static constexpr std::chrono::milliseconds kReplyBound{20000};

    /// What the procedure works through: the proxy's interface, node, log, the
    /// bootloader replies its frame handler collects, and its flash-mode mark.
    struct Target {
        Interface* iface;
        unsigned int node;
        LogSink& log;
        FlashReplies& replies;
        std::function<void(bool)> set_proxy_flash_mode;
    };

    FlashProcedure(Target target, const FlashOptions& options);

    /// Runs the whole update from the file at `path`; `already_in_dfu` skips the
    /// presence checks and the entry frame.
    ret_status_t run(const std::string& path, bool already_in_dfu);

private:
    struct Reply {
        ret_status_t status;
        uint8_t byte;
        bool cancelled = false;  // the wait ended on the cancel flag, not on a reply
        bool acknowledged() const;
    };

    ret_status_t failure(const Reply& reply, const std::string& step) const;
    ret_status_t fail(ret_status_t status, const std::string& why, FlashFailure reason) const;
    /// Marks the step under way, for the result of a failure there.
    void at(FlashStep step, uint32_t where = 0);
    ret_status_t findAtUpdateRate();
    bool imageAcceptable(const intelhex::hex_data& image);
    ret_status_t runBootloader(const intelhex::hex_data& image, bool already_in_dfu);
    ret_status_t enter(bool already_in_dfu);
    ret_status_t erase();
    ret_status_t write(const intelhex::hex_data& image);
    ret_status_t verify(const intelhex::hex_data& image);
    ret_status_t go(uint32_t address);

    void send(uint32_t id, std::initializer_list<uint8_t> data);
    void sendBytes(uint32_t id, const uint8_t* data, std::size_t count);
    void sendAddressLength(uint32_t id, uint32_t address, std::size_t length);
    Reply await(can_frame_data* frame = nullptr, std::chrono::milliseconds bound = kReplyBound);
    /// Whether the caller's cancel flag is set; records and logs the stop when it is.
    bool cancelled() const;
    /// Records and logs a stop on request; returns its status.
    ret_status_t stopped() const;
    void report(FlashStage stage, uint64_t done, uint64_t total) const;

    Target target_;
    const FlashOptions& options_;
    ProcedureClock& clock_;
    FlashStep step_ = FlashStep::Checks;
    uint32_t where_ = 0;
    bool in_bootloader_ = false;
    bool go_sent_ = false;  // the start of the new firmware went out
    mutable bool answered_ = false;  // the bootloader answered, even with a refusal
    mutable std::size_t file_line_ = 0;
    mutable uint8_t refused_byte_ = 0;
};

}  // namespace kinetra
