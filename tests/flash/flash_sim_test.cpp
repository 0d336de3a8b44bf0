// The firmware update end to end: USBInterface, the serial layer, the simulated
// adapter and the simulated driver's bootloader. The procedure's pauses run on a
// manual clock; one test keeps the real time.

#include "kinetra_sim/console.h"
#include "kinetra_sim/driver_node.h"
#include "kinetra_sim/hex_image.h"
#include "kinetra_sim/simulator.h"
#include "support/manual_clock.h"
#include "support/wait.h"

#include <kinetra/actuator.h>
#include <kinetra/driver.h>
#include <kinetra/usb_interface.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

namespace {

using namespace std::chrono_literals;
using kinetra::sim::BootFault;
using kinetra::sim::BootStep;
using kinetra::sim::DriverNode;
using kinetra::sim::NodeKind;
using kinetra::test::eventually;

constexpr unsigned kDriverNode = 1;
constexpr unsigned kActuatorNode = 2;

class FlashOnSimulator : public ::testing::Test {
protected:
    FlashOnSimulator() : sim({{NodeKind::Driver, kDriverNode}, {NodeKind::Actuator, kActuatorNode}}) {
        kinetra::sim::BootTiming timing;
        timing.erase_time_scale = 0;
        driverNode().setBootTiming(timing);
        sim.start();
        sim.registerAsAdapter();
        std::ofstream(path) << kinetra::sim::intelHexText(0x08000000, image);
    }
    ~FlashOnSimulator() override {
        iface.closeInterface();
        std::remove(path.c_str());
    }
    void SetUp() override {
        ASSERT_TRUE(iface.initInterface(sim.portName()));
        ASSERT_TRUE(eventually([&] { return iface.isRunning() && iface.isDeviceConnected(kDriverNode); }, 3000ms));
    }
    DriverNode& driverNode() { return sim.nodeAs<DriverNode>(kDriverNode); }
    void expectNewFirmwareRuns() {
        EXPECT_EQ(driverNode().readFlash(0x08000000, image.size()), image);
        EXPECT_FALSE(driverNode().inBootloader());
        ASSERT_TRUE(eventually([&] { return iface.isDeviceConnected(kDriverNode); }, 3000ms));
        unsigned char major = 0, minor = 0;
        unsigned short patch = 0;
        ASSERT_EQ(driver.getFirmwareVersion(&major, &minor, &patch), RET_OK);
        EXPECT_EQ(std::tie(major, minor, patch), std::make_tuple(3, 1, 4));
        // The adapter is back at the rate the other nodes run at.
        unsigned char a = 0, b = 0;
        unsigned short c = 0;
        // Unheard while the bus ran at the bootloader's rate, the actuator may
        // have expired and counts as present again with its next heartbeat.
        ASSERT_TRUE(eventually([&] { return iface.isDeviceConnected(kActuatorNode); }, 3000ms));
        EXPECT_EQ(actuator.getFirmwareVersion(&a, &b, &c), RET_OK);
    }

    kinetra::sim::Simulator sim;
    USBInterface iface;
    Driver driver{kDriverNode, &iface};
    Actuator actuator{kActuatorNode, &iface};
    const std::vector<uint8_t> image = kinetra::sim::firmwareImage(1024, {3, 1, 4});
    const std::string path = ::testing::TempDir() + "kinetra_flash_sim_" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".hex";
    // Long enough for any reply through the pty; only a missing reply costs it.
    kinetra::test::ManualClock clock{2s};
};

TEST_F(FlashOnSimulator, ImageLandsByteForByteAndTheDeviceComesBackWithItsVersion) {
    kinetra::FlashOptions options;
    options.clock = &clock;
    options.verify = true;
    ASSERT_EQ(driver.flash(path, false, options), RET_OK);
    expectNewFirmwareRuns();
}

TEST_F(FlashOnSimulator, SilentBootloaderTimesOutAndARetryInItSucceeds) {
    driverNode().injectBootFault(BootStep::Synchronise, BootFault::Silent);
    kinetra::FlashOptions options;
    options.clock = &clock;
    EXPECT_EQ(driver.flash(path, false, options), RET_TIMEOUT);
    EXPECT_TRUE(driverNode().inBootloader());
    EXPECT_EQ(clock.expiredWaits(), std::vector<kinetra::ProcedureClock::clock::duration>{20s});
    EXPECT_TRUE(eventually([&] { return sim.adapter().bitRate() == CAN_BAUD_500K; }));
    ASSERT_EQ(driver.flash(path, true, options), RET_OK);
    expectNewFirmwareRuns();
}

// Rebooted from the console after a failed update, the device runs what its
// flash holds: its application when the update failed before the erase, its
// bootloader, started afresh, when the erase left the image incomplete.
TEST_F(FlashOnSimulator, ConsoleRebootStartsWhatTheFlashHolds) {
    struct Case {
        BootStep step;
        BootFault fault;
        bool in_bootloader_after_reboot;
    };
    const Case cases[] = {{BootStep::Synchronise, BootFault::Refuse, false},
                          {BootStep::Write, BootFault::Refuse, true}};
    kinetra::FlashOptions options;
    options.clock = &clock;
    for (const Case& c : cases) {
        SCOPED_TRACE(kinetra::sim::bootStepName(c.step));
        ASSERT_TRUE(eventually([&] { return iface.isDeviceConnected(kDriverNode); }, 3000ms));
        driverNode().injectBootFault(c.step, c.fault);
        ASSERT_EQ(driver.flash(path, false, options), RET_NOT_CONNECTED);
        kinetra::sim::runConsoleCommand(sim, "reboot 1 50");
        ASSERT_TRUE(eventually([&] { return driverNode().online(); }, 3000ms));
        EXPECT_EQ(driverNode().inBootloader(), c.in_bootloader_after_reboot);
        EXPECT_EQ(driverNode().bitRate(), c.in_bootloader_after_reboot ? CAN_BAUD_125K : CAN_BAUD_500K);
        if (c.in_bootloader_after_reboot) {
            ASSERT_EQ(driver.flash(path, true, options), RET_OK);
            expectNewFirmwareRuns();
        }
    }
}

TEST_F(FlashOnSimulator, RealTimeFlash_Slow) {
    ASSERT_EQ(driver.flash(path, false), RET_OK);
    expectNewFirmwareRuns();
}

}  // namespace
