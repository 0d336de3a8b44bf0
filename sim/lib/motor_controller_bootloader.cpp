#include "kinetra_sim/motor_controller_node.h"
#include "kinetra_sim/node_answer.h"

#include "devices/protocol/common_commands.h"

#include <tuple>

namespace kinetra::sim {

void MotorControllerNode::installBootloader() {
    onCommand(protocol::common::kEnterDfuMode, [this](const can_frame_data&) { enterBootloader(); });
}

void MotorControllerNode::enterBootloader() {
    // The application stops: no heartbeats, and the bootloader listens at its own rate.
    if (!in_bootloader_) heartbeats_before_bootloader_ = heartbeatsEnabled();
    in_bootloader_ = true;
    setHeartbeatsEnabled(false);
    bootloader_.restart();
    switchBitRate(bootloader_.rate());
}

void MotorControllerNode::startAfterReboot() {
    // As a real device: after an update that erased the flash and did not reach
    // its Go, the restarted device finds no application and runs its bootloader,
    // freshly started at 125 kbit/s, where an update that skips the entry looks
    // for it. With a whole application it starts that (at the saved bit rate).
    silent_until_ = {};
    if (!bootloader_.applicationIntact()) {
        enterBootloader();
        return;
    }
    if (!in_bootloader_) return;
    in_bootloader_ = false;
    bootloader_.restart();
    setHeartbeatsEnabled(heartbeats_before_bootloader_);
}

bool MotorControllerNode::inBootloader() {
    return withState([&] { return in_bootloader_; });
}

void MotorControllerNode::injectBootFault(BootStep step, BootFault fault) {
    withState([&] { bootloader_.inject(step, fault); });
}

void MotorControllerNode::setBootTiming(const BootTiming& timing) {
    withState([&] { bootloader_.setTiming(timing); });
}

std::vector<uint8_t> MotorControllerNode::readFlash(uint32_t address, std::size_t count) {
    return withState([&] { return bootloader_.read(address, count); });
}

bool MotorControllerNode::answersQuery(uint8_t) { return !in_bootloader_; }

void MotorControllerNode::onStandardFrame(const can_frame_data& frame) {
    if (!in_bootloader_ || Clock::now() < silent_until_) return;
    const BootloaderModel::Result result = bootloader_.receive(frame);
    for (const BootloaderModel::Output& out : result.replies) {
        // An immediate reply leaves at the rate it was made for; delayed ones at
        // the rate the bootloader runs at when they leave.
        if (out.delay.count() == 0) switchBitRate(out.rate);
        transmitFrame(out.frame, out.delay);
    }
    switchBitRate(result.rate);
    if (result.rebooted) silent_until_ = Clock::now() + bootloader_.timing().reboot_silence;
    if (result.started) startApplication();
}

void MotorControllerNode::startApplication() {
    in_bootloader_ = false;
    switchBitRate(CAN_BAUD_500K);
    setHeartbeatsEnabled(heartbeats_before_bootloader_);
    if (const std::optional<ImageVersion> version = bootloader_.imageVersion()) {
        const ImageVersion v = *version;
        answer(protocol::common::kGetFirmwareVersion,
               [v] { return std::tuple<uint8_t, uint8_t, uint16_t>{v.major, v.minor, v.patch}; });
    }
}

}  // namespace kinetra::sim
