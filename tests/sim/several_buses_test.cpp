// One simulator, several buses: each with its own nodes (ids may repeat), its
// own adapter, told apart from the others', and its own bit rate.

#include "kinetra_sim/simulator.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace several_buses {

using kinetra::sim::BusSetup;
using kinetra::sim::NodeKind;
using kinetra::sim::Simulator;

TEST(SeveralBuses, EachBusHasItsOwnNodesAdapterAndRate) {
    std::vector<BusSetup> setups(3);
    setups[0].nodes = {{NodeKind::Driver, 1}, {NodeKind::Driver, 2}};
    setups[1].nodes = {{NodeKind::Imu, 1}};
    setups[2].nodes = {{NodeKind::Driver, 1, CAN_BAUD_1M}};
    setups[2].adapter.bit_rate = CAN_BAUD_1M;
    Simulator sim(setups, {});
    ASSERT_EQ(sim.buses(), 3u);
    EXPECT_EQ(sim.onBus(1).node(1).kind(), NodeKind::Imu);
    EXPECT_EQ(&sim.node(1), &sim.onBus(0).node(1));
    EXPECT_THROW(sim.onBus(1).node(2), std::out_of_range);
    EXPECT_THROW(sim.onBus(3), std::out_of_range);
    EXPECT_EQ(sim.onBus(2).host(0).adapter().bitRate(), CAN_BAUD_1M);
    EXPECT_EQ(sim.onBus(0).host(0).adapter().bitRate(), CAN_BAUD_500K);
    std::set<std::string> ports, hardware_ids, serial_numbers;
    for (std::size_t bus = 0; bus < sim.buses(); ++bus) {
        ports.insert(sim.portOf(bus));
        hardware_ids.insert(sim.onBus(bus).host(0).adapter().setup().hardware_id);
        serial_numbers.insert(sim.onBus(bus).host(0).adapter().setup().serial_number);
    }
    EXPECT_EQ(ports.size(), 3u);
    EXPECT_EQ(hardware_ids.size(), 3u);
    EXPECT_EQ(serial_numbers.size(), 3u);
    EXPECT_EQ(sim.portOf(0), sim.portName());

    EXPECT_THROW(Simulator(std::vector<BusSetup>{}, {}), std::invalid_argument);
    EXPECT_THROW(Simulator(std::vector<BusSetup>(Simulator::kMaxBuses + 1), {}), std::invalid_argument);
}

}  // namespace several_buses
