#include "kinetra_sim/simulator.h"

#include <kinetra/control_cycle.h>
#include <kinetra/driver.h>
#include <kinetra/usb_interface.h>

#include "support/wait.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using kinetra::sim::NodeKind;
using kinetra::sim::Simulator;
using kinetra::test::eventually;

// The whole road with the timing model on, blocking and overlapped: every reply
// still arrives and lands in its own proxy, whatever order arbitration gives.
TEST(TimedSimulatorSlow, QueriesAndCyclesAreAnsweredThroughTheModel) {
    struct Case {
        const char* name;
        uint32_t serial_baud;
    };
    for (const Case c : {Case{"unlimited serial line", 0}, Case{"UART at 115200", 115200}}) {
        SCOPED_TRACE(c.name);
        kinetra::sim::SimulatorOptions options;
        options.timing.enabled = true;
        options.timing.serial_baud = c.serial_baud;
        Simulator sim({{NodeKind::Driver, 3}, {NodeKind::Driver, 1}, {NodeKind::Driver, 2}}, options);
        ASSERT_TRUE(sim.bus().timed());
        sim.start();
        USBInterface bus;
        sim.registerAsAdapter();
        ASSERT_TRUE(bus.initInterface(sim.portName()));
        ASSERT_TRUE(eventually([&] { return bus.getConnectedDevices().size() == 3 && bus.isRunning(); }));
        std::vector<std::unique_ptr<Driver>> drivers;
        for (unsigned node = 1; node <= 3; ++node) drivers.push_back(std::make_unique<Driver>(node, &bus));

        // Each driver's own node id, read back by the blocking query.
        for (unsigned node = 1; node <= 3; ++node) {
            unsigned int id = 0;
            ASSERT_EQ(drivers[node - 1]->getNodeId(&id), RET_OK);
            EXPECT_EQ(id, node);
        }
        ControlCycle cycle(&bus);
        float voltage[3] = {-1, -1, -1};
        for (unsigned i = 0; i < 3; ++i) cycle.add(*drivers[i], MotorReading::BusVoltage, &voltage[i]);
        for (int run = 0; run < 3; ++run) ASSERT_EQ(cycle.run(), RET_OK);
        for (float v : voltage) EXPECT_GT(v, 0.0f);
        EXPECT_GT(sim.bus().busLoad(), 0.0);
        EXPECT_LT(sim.bus().busLoad(), 100.0);
        bus.closeInterface();
        sim.stop();
    }
}

TEST(TimedSimulator, OffByDefault) {
    Simulator sim({{NodeKind::Driver, 1}});
    EXPECT_FALSE(sim.bus().timed());
    EXPECT_EQ(sim.bus().busLoad(), 0.0);
    EXPECT_EQ(sim.bus().framesQueued(), 0u);
}

}  // namespace
