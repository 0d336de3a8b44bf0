// Fault commands as kinetra-sim's console and --fault take them.

#include "kinetra_sim/console.h"
#include "kinetra_sim/simulator.h"

#include "devices/protocol/common_commands.h"

#include <gtest/gtest.h>

namespace kinetra::sim {
namespace {

TEST(SimConsole, CommandsReachTheirKnobs) {
    Simulator sim({{NodeKind::Driver, 1}, {NodeKind::Imu, 3}});
    runConsoleCommand(sim, "heartbeats 3 off");
    EXPECT_FALSE(sim.node(3).heartbeatsEnabled());
    runConsoleCommand(sim, "  heartbeats 3   on ");
    EXPECT_TRUE(sim.node(3).heartbeatsEnabled());
    runConsoleCommand(sim, "period 1 250");
    EXPECT_EQ(sim.node(1).heartbeatPeriod(), std::chrono::milliseconds(250));
    runConsoleCommand(sim, "rate 0x1 8");
    EXPECT_EQ(sim.node(1).bitRate(), CAN_BAUD_1M);
    EXPECT_EQ(runConsoleCommand(sim, "bootfault 1 write corrupt"), "node 1 bootloader: corrupt at the next write");
    runConsoleCommand(sim, "reboot 1 50");
    EXPECT_FALSE(sim.node(1).online());
    EXPECT_NE(runConsoleCommand(sim, "status").find("node 3 imu: online"), std::string::npos);
    EXPECT_EQ(runConsoleCommand(sim, ""), "");
    runConsoleCommand(sim, "unplug");
    EXPECT_FALSE(sim.plugged());
}

TEST(SimConsole, RefusesWhatItCannotDo) {
    Simulator sim({{NodeKind::Driver, 1}});
    const char* bad[] = {
        "explode",          "heartbeats 1",     "heartbeats 1 maybe", "heartbeats 9 off", "drop 1 1.5",
        "drop 1 -0.1",      "drop 1 x",         "delay 1 -5",         "wrongid 1 0x80",   "rate 1 9",
        "reboot 1 2 3",     "garbage many",     "period 1",           "clear",            "unplug now",
        "bootfault 1 write", "bootfault 1 jump refuse", "bootfault 1 go explode", "bootfault 9 go refuse",
    };
    for (const char* line : bad) EXPECT_THROW(runConsoleCommand(sim, line), std::invalid_argument) << line;
    EXPECT_TRUE(sim.plugged());
}

}  // namespace
}  // namespace kinetra::sim
