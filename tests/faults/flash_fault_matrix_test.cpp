// The firmware update's row of the fault matrix, end to end against the
// simulated driver's bootloader: the bootloader refusing or silent at each step,
// garbage from the adapter, the adapter pulled and the device restarting in the
// middle of the writes. The update runs alone on its bus (it moves the adapter
// to the bootloader's rate), on a manual clock, so its pauses and 20 s waits
// cost milliseconds. Each ends with its status, and the device, still in its
// bootloader, then takes an update that skips the entry: right away, wherever
// the failure left the bootloader, or after a reboot, which starts a device
// whose image is incomplete in its bootloader afresh.
//
// Reply faults of the application (dropped, late, repeated, other id) do not
// reach the bootloader, which answers by its own identifiers: the bootloader's
// own faults stand for them here.

#include "kinetra_sim/driver_node.h"
#include "kinetra_sim/hex_image.h"
#include "kinetra_sim/simulator.h"

#include <kinetra/driver.h>
#include <kinetra/usb_interface.h>

#include "support/manual_clock.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <ostream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace kinetra::sim {
namespace {

using namespace std::chrono_literals;

// Stop: the caller stops the update (a confirmed Ctrl-C) in the middle of a block.
enum class FlashBusFault { None, Garbage, Unplug, Stop };

struct FlashFaultRow {
    const char* name;
    BootStep step;
    BootFault fault;
    FlashBusFault bus;
    bool verify;
    ret_status_t status;
    // Before the retry: the node is rebooted (the console's `reboot`).
    bool reboot;
};

/// Names a row in gtest's messages instead of dumping its bytes.
void PrintTo(const FlashFaultRow& row, std::ostream* os) { *os << row.name; }

constexpr unsigned kFlashFaultNode = 1;

class FlashFaultMatrix : public ::testing::TestWithParam<FlashFaultRow> {
protected:
    FlashFaultMatrix() : sim({{NodeKind::Driver, kFlashFaultNode}}) {
        BootTiming timing;
        timing.erase_time_scale = 0;
        node().setBootTiming(timing);
        sim.start();
        sim.registerAsAdapter();
        std::ofstream(path) << intelHexText(0x08000000, image);
    }
    ~FlashFaultMatrix() override {
        iface.closeInterface();
        std::remove(path.c_str());
    }
    DriverNode& node() { return sim.nodeAs<DriverNode>(kFlashFaultNode); }

    Simulator sim;
    USBInterface iface;
    Driver driver{kFlashFaultNode, &iface};
    const std::vector<uint8_t> image = firmwareImage(1024, {3, 1, 4});
    const std::string path = ::testing::TempDir() + "kinetra_flash_fault_" + GetParam().name + ".hex";
    // Far above a reply's way through the pty (the new-rate acknowledge comes
    // 100 ms after the old-rate one); only a missing reply costs it.
    test::ManualClock clock{500ms};
};

TEST_P(FlashFaultMatrix, EndsWithItsStatusAndTheNextUpdateFromTheBootloaderWorks) {
    const FlashFaultRow& row = GetParam();
    ASSERT_TRUE(iface.initInterface(sim.portName()));
    ASSERT_TRUE(test::eventually([&] { return iface.isRunning() && iface.isDeviceConnected(kFlashFaultNode); },
                                 3000ms));
    if (row.fault != BootFault::None) node().injectBootFault(row.step, row.fault);

    bool unplugged = false;
    std::atomic<bool> stop{false};
    FlashOptions options;
    options.clock = &clock;
    options.verify = row.verify;
    options.cancel = &stop;
    options.progress = [&](const FlashProgress& progress) {
        if (row.bus == FlashBusFault::Garbage) sim.sendGarbage(3);
        const bool mid_write = progress.stage == FlashStage::Writing && progress.done > 0;
        if (row.bus == FlashBusFault::Unplug && !unplugged && mid_write) {
            sim.unplug();
            unplugged = true;
        }
        if (row.bus == FlashBusFault::Stop && mid_write) stop = true;
    };
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(driver.flash(path, false, options), row.status);
    // A hang catcher, not a timing: every wait of the update is on the manual clock.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    if (row.status == RET_OK) {
        EXPECT_EQ(node().readFlash(0x08000000, image.size()), image);
        return;
    }
    EXPECT_TRUE(node().inBootloader());

    options.progress = nullptr;
    stop = false;
    if (unplugged) {
        sim.replug();
        iface.closeInterface();
        ASSERT_TRUE(iface.initInterface(sim.portName()));
    }
    if (row.bus == FlashBusFault::Unplug) {
        // The wait ended when the adapter went, not at its 20 s bound.
        EXPECT_TRUE(clock.expiredWaits().empty());
    }
    if (row.reboot) {
        node().reboot(50ms);
        ASSERT_TRUE(test::eventually([&] { return node().online(); }, 3000ms));
        EXPECT_TRUE(node().inBootloader()) << "the image is incomplete";
        EXPECT_EQ(node().bitRate(), CAN_BAUD_125K) << "started afresh";
    }
    start = std::chrono::steady_clock::now();
    std::string failure;
    options.failure = &failure;
    ASSERT_EQ(driver.flash(path, true, options), RET_OK) << failure;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_EQ(node().readFlash(0x08000000, image.size()), image);
    ASSERT_TRUE(test::eventually([&] { return iface.isDeviceConnected(kFlashFaultNode); }, 3000ms));
    unsigned char major = 0, minor = 0;
    unsigned short patch = 0;
    ASSERT_EQ(driver.getFirmwareVersion(&major, &minor, &patch), RET_OK);
    EXPECT_EQ(std::make_tuple(major, minor, patch), std::make_tuple(3, 1, 4));
}

// Not listed: Read without verify (the plain update reads nothing back).
INSTANTIATE_TEST_SUITE_P(
    Steps, FlashFaultMatrix,
    ::testing::Values(
        FlashFaultRow{"no_fault", BootStep::Go, BootFault::None, FlashBusFault::None, true, RET_OK, false},
        FlashFaultRow{"sync_refused", BootStep::Synchronise, BootFault::Refuse, FlashBusFault::None, false,
                      RET_NOT_CONNECTED, false},
        FlashFaultRow{"sync_silent", BootStep::Synchronise, BootFault::Silent, FlashBusFault::None, false,
                      RET_TIMEOUT, false},
        FlashFaultRow{"speed_refused", BootStep::ChangeSpeed, BootFault::Refuse, FlashBusFault::None, false,
                      RET_NOT_CONNECTED, false},
        FlashFaultRow{"new_speed_refused", BootStep::ChangeSpeed, BootFault::RefuseFinal, FlashBusFault::None,
                      false, RET_NOT_CONNECTED, false},
        FlashFaultRow{"speed_silent", BootStep::ChangeSpeed, BootFault::Silent, FlashBusFault::None, false,
                      RET_TIMEOUT, false},
        FlashFaultRow{"erase_refused", BootStep::Erase, BootFault::Refuse, FlashBusFault::None, false,
                      RET_NOT_CONNECTED, false},
        FlashFaultRow{"erase_not_done_then_reboot", BootStep::Erase, BootFault::RefuseFinal, FlashBusFault::None,
                      false, RET_NOT_CONNECTED, true},
        FlashFaultRow{"erase_silent", BootStep::Erase, BootFault::Silent, FlashBusFault::None, false, RET_TIMEOUT,
                      false},
        FlashFaultRow{"write_refused", BootStep::Write, BootFault::Refuse, FlashBusFault::None, false,
                      RET_NOT_CONNECTED, false},
        FlashFaultRow{"write_refused_then_reboot", BootStep::Write, BootFault::Refuse, FlashBusFault::None, false,
                      RET_NOT_CONNECTED, true},
        FlashFaultRow{"write_silent", BootStep::Write, BootFault::Silent, FlashBusFault::None, false, RET_TIMEOUT,
                      false},
        FlashFaultRow{"write_ack_dropped", BootStep::Write, BootFault::DropAck, FlashBusFault::None, false,
                      RET_TIMEOUT, false},
        FlashFaultRow{"read_refused", BootStep::Read, BootFault::Refuse, FlashBusFault::None, true,
                      RET_NOT_CONNECTED, false},
        FlashFaultRow{"read_silent", BootStep::Read, BootFault::Silent, FlashBusFault::None, true, RET_TIMEOUT,
                      false},
        FlashFaultRow{"go_refused", BootStep::Go, BootFault::Refuse, FlashBusFault::None, false, RET_NOT_CONNECTED,
                      false},
        FlashFaultRow{"go_silent", BootStep::Go, BootFault::Silent, FlashBusFault::None, false, RET_TIMEOUT,
                      false},
        FlashFaultRow{"garbage_lines", BootStep::Go, BootFault::None, FlashBusFault::Garbage, true, RET_OK, false},
        FlashFaultRow{"device_reboots_mid_write", BootStep::Write, BootFault::RebootMidWrite, FlashBusFault::None,
                      false, RET_TIMEOUT, false},
        FlashFaultRow{"adapter_unplugged_mid_write", BootStep::Go, BootFault::None, FlashBusFault::Unplug, false,
                      RET_NOT_RUNNING, false},
        FlashFaultRow{"adapter_unplugged_then_reboot", BootStep::Go, BootFault::None, FlashBusFault::Unplug, false,
                      RET_NOT_RUNNING, true},
        FlashFaultRow{"stopped_mid_write", BootStep::Go, BootFault::None, FlashBusFault::Stop, false,
                      RET_NOT_RUNNING, false},
        FlashFaultRow{"stopped_mid_write_then_reboot", BootStep::Go, BootFault::None, FlashBusFault::Stop, false,
                      RET_NOT_RUNNING, true}),
    [](const ::testing::TestParamInfo<FlashFaultRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kinetra::sim
