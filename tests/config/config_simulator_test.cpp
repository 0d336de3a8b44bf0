// Configuration export and import end to end against the simulated driver:
// a restore after an erase gives back the same document, and restored settings
// outlive a reboot only once saved.

#include "kinetra_sim/simulator.h"

#include <kinetra/driver.h>
#include <kinetra/usb_interface.h>

#include "config/config_import.h"
#include "support/manual_clock.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using kinetra::sim::NodeKind;
using kinetra::sim::Simulator;
using kinetra::test::eventually;

constexpr unsigned kDriverNode = 1;

class ConfigSimulatorSlow : public ::testing::Test {
protected:
    ConfigSimulatorSlow() : sim({{NodeKind::Driver, kDriverNode}}) {
        sim.start();
        sim.registerAsAdapter();
    }
    ~ConfigSimulatorSlow() override { iface.closeInterface(); }

    void SetUp() override {
        ASSERT_TRUE(iface.initInterface(sim.portName()));
        ASSERT_TRUE(eventually([&] { return iface.isRunning() && iface.isDeviceConnected(kDriverNode); }, 3000ms));
    }

    /// Tunes the driver away from its factory settings in what an import
    /// restores (it never switches the thermal limit, so the thermistor stays).
    static void tune(Driver& driver) {
        ASSERT_EQ(driver.setGearBoxParameters(4.0f), RET_OK);
        ASSERT_EQ(driver.setPositionControllerGain(0.1f), RET_OK);
        ASSERT_EQ(driver.setVelocityControllerGains(0.2f, 0.4f), RET_OK);
        ASSERT_EQ(driver.enableBrakeResistor(3.3f), RET_OK);
        ASSERT_EQ(driver.configureOutputEncoder(3, 4096, true), RET_OK);
        ASSERT_EQ(driver.setMotorParameters(14, 80, 22.5f), RET_OK);
        ASSERT_EQ(driver.setStartupConfigs(false, true, false), RET_OK);
    }

    static unsigned char import(Driver& driver, const std::string& text) {
        kinetra::test::ManualClock clock;
        std::ostringstream printed;
        return kinetra::config::importDriverConfiguration(driver, text, printed, clock);
    }

    /// Reboots the driver and exports once it answers again.
    static std::string exportAfterReboot(Driver& driver) {
        EXPECT_EQ(driver.rebootDriver(), RET_OK);
        std::this_thread::sleep_for(50ms);  // the node is silent while it boots
        std::string text;
        EXPECT_TRUE(eventually([&] { return !(text = driver.exportConfiguration()).empty(); }, 3000ms));
        return text;
    }

    Simulator sim;
    USBInterface iface;
};

TEST_F(ConfigSimulatorSlow, ExportEraseImportExportGivesTheSameText) {
    Driver driver(kDriverNode, &iface);
    tune(driver);
    const std::string tuned = driver.exportConfiguration();
    ASSERT_FALSE(tuned.empty());
    EXPECT_NE(tuned.find("\"gear_ratio\": 4.0,"), std::string::npos) << tuned;

    ASSERT_EQ(driver.eraseConfigurations(), RET_OK);
    const std::string factory = driver.exportConfiguration();
    ASSERT_FALSE(factory.empty());
    EXPECT_NE(factory, tuned);

    EXPECT_EQ(import(driver, tuned), 1);
    EXPECT_EQ(driver.exportConfiguration(), tuned);
}

TEST_F(ConfigSimulatorSlow, RestoredSettingsOutliveARebootOnlyOnceSaved) {
    Driver driver(kDriverNode, &iface);
    ASSERT_EQ(driver.eraseConfigurations(), RET_OK);
    const std::string factory = driver.exportConfiguration();
    tune(driver);
    const std::string tuned = driver.exportConfiguration();
    ASSERT_EQ(driver.eraseConfigurations(), RET_OK);

    EXPECT_EQ(import(driver, tuned), 1);
    EXPECT_EQ(exportAfterReboot(driver), factory) << "unsaved settings are gone after a reboot";

    EXPECT_EQ(import(driver, tuned), 1);
    ASSERT_EQ(driver.saveConfigurations(), RET_OK);
    EXPECT_EQ(exportAfterReboot(driver), tuned) << "restore, then save";
}

}  // namespace
