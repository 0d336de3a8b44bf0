#pragma once
/// @file motor_controller_node.h
/// What the simulated drivers and actuators share: the status their heartbeats carry.

#include "kinetra_sim/bootloader_model.h"
#include "kinetra_sim/motor_firmware.h"
#include "kinetra_sim/node.h"

#include <cstdint>

namespace kinetra::sim {

/// The status a motor controller's heartbeat carries: a 32-bit word in payload
/// bits 0-31 and two bytes at payload bytes 4 and 5.
struct HeartbeatStatus {
    uint32_t word = 0;
    uint8_t byte4 = 0;
    uint8_t byte5 = 0;
};

/// Base of DriverNode and ActuatorNode.
class MotorControllerNode : public Node {
public:
    /// The status the next heartbeats carry.
    void setHeartbeatStatus(const HeartbeatStatus& status);
    HeartbeatStatus heartbeatStatus();

    /// Runs `fn` on the firmware state (motor, codes, sensor chips) with the
    /// node's lock held.
    template <typename Fn>
    auto withFirmware(Fn&& fn) {
        return withState([&] { return fn(firmware_); });
    }

    // ---- The bootloader, entered with the enterDFUMode command.

    /// Whether the node runs its bootloader (no heartbeats, 125 or 500 kbit/s).
    bool inBootloader();
    /// Arms a one-shot fault for the next run of a bootloader step.
    void injectBootFault(BootStep step, BootFault fault);
    /// The bootloader's erase and restart times.
    void setBootTiming(const BootTiming& timing);
    /// The simulated flash at [address, address + count); empty outside it.
    std::vector<uint8_t> readFlash(uint32_t address, std::size_t count);

protected:
    MotorControllerNode(const NodeSetup& setup, protocol::DeviceType type, const protocol::RouteTable& routes,
                        NodeIdentity identity);
    void fillHeartbeat(can_frame_data& frame) override;

    /// The heartbeat status, for handlers and physics (lock held).
    HeartbeatStatus& status() { return status_; }
    /// The firmware state, for handlers (lock held).
    MotorFirmware& firmware() { return firmware_; }

    // The motor and the firmware state follow time and the configuration's life
    // cycle; defined with the command set in motor_controller_commands.cpp.
    void onTick(std::chrono::nanoseconds elapsed) override;
    void onReboot() override;
    void onStandardFrame(const can_frame_data& frame) override;
    bool answersQuery(uint8_t command) override;

private:
    /// Registers the command set of the node's class.
    void installCommandSet();
    void installSharedCommands();
    void installDriverCommands();
    void installActuatorCommands();
    void refreshMotorParameters();
    void installBootloader();
    void startApplication();
    /// A restart (the reboot command, the console): the bootloader, started
    /// afresh, when the flash holds no whole application, else the application.
    void startAfterReboot();
    void enterBootloader();

    HeartbeatStatus status_;
    MotorFirmware firmware_;
    BootloaderModel bootloader_;
    bool in_bootloader_ = false;
    bool heartbeats_before_bootloader_ = true;
    Clock::time_point silent_until_{};
};

}  // namespace kinetra::sim
