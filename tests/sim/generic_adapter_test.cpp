// A generic SLCAN adapter: the simulator's generic mode behaves as one (channel
// closed until opened, short remote form only), and SlcanInterface sets it up
// and speaks its form, while USBInterface keeps the Zarvo's lines.

#include "kinetra_sim/adapter_protocol.h"
#include "kinetra_sim/driver_node.h"
#include "kinetra_sim/simulator.h"
#include "kinetra_sim/virtual_bus.h"

#include <kinetra/control_cycle.h>
#include <kinetra/driver.h>
#include <kinetra/usb_interface.h>

#include "can/bus.h"
#include "devices/protocol/motor_controller_protocol.h"
#include "support/text_wire.h"
#include "support/wait.h"
#include "usb/slcan_codec.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace kinetra::sim {
namespace {

using namespace std::chrono_literals;

using test::TextWire;

can_frame_data voltageQuery(uint32_t node) {
    can_frame_data frame{};
    frame.can_id = protocol::hostFrameId(node, protocol::motor::kGetBusVoltageCurrent, protocol::FrameKind::Remote);
    frame.can_dlc = protocol::kQueryDlc;
    return frame;
}

TEST(SlcanCodecRemoteForm, ShortFormCarriesNoDataDigits) {
    can_frame_data standard_remote{};
    standard_remote.can_id = 0x40000123u;
    standard_remote.can_dlc = 2;
    standard_remote.data[0] = 0xAA;
    can_frame_data data_frame{};
    data_frame.can_id = 0x80000123u;
    data_frame.can_dlc = 1;
    data_frame.data[0] = 0x5C;
    const struct {
        can_frame_data frame;
        slcan::RemoteForm form;
        const char* line;
    } cases[] = {
        {voltageQuery(5), slcan::RemoteForm::Short, "R000002C68\r"},
        {voltageQuery(5), slcan::RemoteForm::WithDataDigits, "R000002C680000000000000000\r"},
        {standard_remote, slcan::RemoteForm::Short, "r1232\r"},
        {standard_remote, slcan::RemoteForm::WithDataDigits, "r1232AA00\r"},
        {data_frame, slcan::RemoteForm::Short, "T0000012315C\r"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(slcan::encodeFrame(c.frame, c.form), c.line);
        // Whatever the form, the line reads back as the same frame.
        const auto decoded = slcan::decodeLine(c.line);
        ASSERT_EQ(decoded.kind, slcan::LineKind::Frame) << c.line;
        EXPECT_EQ(decoded.frame.can_id, c.frame.can_id) << c.line;
        EXPECT_EQ(decoded.frame.can_dlc, c.frame.can_dlc) << c.line;
    }
}

TEST(GenericAdapterMode, PassesNothingBeforeOpenAndOnlyShortRemoteLines) {
    const std::string short_query = slcan::encodeFrame(voltageQuery(1), slcan::RemoteForm::Short);
    const std::string long_query = slcan::encodeFrame(voltageQuery(1));
    struct Step {
        std::string line;
        std::string generic_reply;  // what the generic adapter answers
        std::string zarvo_reply;    // what the Zarvo answers to the same line
    };
    // Replies to carried queries are node frames: only their first letter is compared.
    const Step steps[] = {
        // Identity as common SLCAN adapters give it, open or closed.
        {"V\r", "V2112\r", "V1.2.3-51mc0de1\r"},
        {"N\r", "NSIM1\r", "\a"},
        {short_query, "\a", "T"},
        {"O\r", "\r", "\a"},
        {long_query, "\a", "T"},
        {short_query, "T", "T"},
        {"C\r", "\r", "\r"},
        {short_query, "\a", "\a"},
    };
    for (const bool generic : {true, false}) {
        SCOPED_TRACE(generic ? "generic" : "zarvo");
        TextWire wire;
        VirtualBus bus;
        AdapterSetup setup;
        setup.generic = generic;
        AdapterProtocol adapter(setup, wire, bus);
        bus.addNode(std::make_unique<DriverNode>(NodeSetup{NodeKind::Driver, 1, setup.bit_rate}));
        bus.connect(&adapter);
        EXPECT_EQ(adapter.channelOpen(), !generic);
        for (const Step& step : steps) {
            adapter.feed(step.line.data(), step.line.size());
            const std::string reply = wire.take();
            const std::string& expected = generic ? step.generic_reply : step.zarvo_reply;
            EXPECT_EQ(reply.substr(0, expected.size()), expected) << "after " << step.line;
            if (expected == "T") {
                EXPECT_GT(reply.size(), 1u);
            }
        }
        bus.connect(nullptr);
    }
}

TEST(GenericAdapterMode, SlcanInterfaceSetsTheChannelUpAndIsAnswered) {
    for (const CANBaudRate rate : {CAN_BAUD_1M, CAN_BAUD_500K}) {
        SCOPED_TRACE(int(rate));
        SimulatorOptions options;
        options.adapter.generic = true;
        Simulator sim({{NodeKind::Driver, 1, rate}}, options);
        sim.start();
        SlcanInterface iface(rate);
        ASSERT_TRUE(iface.initInterface(sim.portName()));
        Driver driver(1, &iface);
        // Heard nodes count only once the first master heartbeat went out and the
        // interface runs.
        ASSERT_TRUE(test::eventually([&] { return driver.isConnected() && iface.isRunning(); }, 3000ms));
        EXPECT_TRUE(sim.adapter().channelOpen());
        EXPECT_EQ(sim.adapter().bitRate(), rate);
        float voltage = 0.0f;
        EXPECT_EQ(driver.getBusVoltage(&voltage), RET_OK);
        // A cycle wrote its requests in the long remote form, which a generic adapter refuses.
        ControlCycle cycle;
        cycle.add(driver, MotorReading::BusVoltage, &voltage);
        EXPECT_EQ(cycle.run(), RET_OK);
        iface.closeInterface();
    }
}

// Fault pinned: SlcanInterface opened at 1 Mbit/s by default, so a first program
// against kinetra-sim (500 kbit/s, as the devices) found no node.
TEST(GenericAdapterMode, DefaultSlcanInterfaceFindsTheDefaultSimulatorsNodes) {
    SimulatorOptions options;
    options.adapter.generic = true;
    Simulator sim({{NodeKind::Driver, 1}}, options);
    sim.start();
    SlcanInterface iface;
    ASSERT_TRUE(iface.initInterface(sim.portName()));
    Driver driver(1, &iface);
    ASSERT_TRUE(test::eventually([&] { return driver.isConnected() && iface.isRunning(); }, 3000ms));
    float voltage = 0.0f;
    EXPECT_EQ(driver.getBusVoltage(&voltage), RET_OK);
    iface.closeInterface();
}

TEST(GenericAdapterMode, ZarvoTransportIsNotHeardThroughAClosedChannel) {
    SimulatorOptions options;
    options.adapter.generic = true;
    Simulator sim({{NodeKind::Driver, 1}}, options);
    sim.start();
    sim.registerAsAdapter();
    USBInterface iface;
    ASSERT_TRUE(iface.initInterface(sim.portName()));
    // Several heartbeat periods of the node: none reaches the host.
    std::this_thread::sleep_for(400ms);
    EXPECT_FALSE(iface.isDeviceConnected(1));
    EXPECT_FALSE(sim.adapter().channelOpen());
    iface.closeInterface();
}

}  // namespace
}  // namespace kinetra::sim
