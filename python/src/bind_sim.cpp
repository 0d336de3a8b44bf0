// kinetra.sim: the simulated nodes with their fault knobs, the virtual
// adapter's state, and firmware images for the simulated bootloader
// (kinetra.Simulator itself is in bind_simulator.cpp).

#include "kinetra_sim/actuator_node.h"
#include "kinetra_sim/console.h"
#include "kinetra_sim/driver_node.h"
#include "kinetra_sim/encoder_node.h"
#include "kinetra_sim/hex_image.h"
#include "kinetra_sim/imu_node.h"
#include "kinetra_sim/simulator.h"

#include <pybind11/stl.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "bindings.h"

namespace kinetra::python {
namespace {

using namespace kinetra::sim;
using std::chrono::milliseconds;

template <typename T, typename... Base>
using NodeClass = py::class_<T, Base..., std::unique_ptr<T, py::nodelete>>;

py::bytes toBytes(const std::vector<uint8_t>& bytes) {
    return py::bytes(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void bindNodes(py::module_& sim) {
    NodeClass<Node>(sim, "Node", "One simulated node: identity, heartbeats, replies and fault knobs.")
        .def("node_id", &Node::nodeId)
        .def("kind", &Node::kind)
        .def("online", &Node::online, "False while the node reboots.")
        .def("bit_rate", &Node::bitRate)
        .def("set_bit_rate", &Node::setBitRate, py::arg("rate"))
        .def("set_heartbeats_enabled", &Node::setHeartbeatsEnabled, py::arg("enabled"),
             "Stops or resumes heartbeats; the host loses a silent node after about a second.")
        .def("heartbeats_enabled", &Node::heartbeatsEnabled)
        .def(
            "set_heartbeat_period", [](Node& self, double ms) { self.setHeartbeatPeriod(milliseconds(static_cast<long>(ms))); },
            py::arg("ms"))
        .def(
            "set_reply_faults",
            [](Node& self, double drop_fraction, double delay_ms, std::optional<uint8_t> answer_as,
               std::optional<uint8_t> command) {
                if (!(drop_fraction >= 0.0 && drop_fraction <= 1.0)) throw py::value_error("drop_fraction is 0 to 1");
                if (!(delay_ms >= 0.0)) throw py::value_error("delay_ms must not be negative");
                ReplyFaults faults;
                faults.drop_fraction = drop_fraction;
                faults.delay = std::chrono::microseconds(static_cast<long long>(delay_ms * 1000.0));
                faults.answer_as = answer_as;
                if (command) {
                    self.setReplyFaults(*command, faults);
                } else {
                    self.setReplyFaults(faults);
                }
            },
            py::arg("drop_fraction") = 0.0, py::arg("delay_ms") = 0.0, py::arg("answer_as") = py::none(),
            py::arg("command") = py::none(),
            "Faults for the replies to every query, or to the query `command` only: a fraction dropped, a "
            "delay, a wrong command id.")
        .def("clear_reply_faults", &Node::clearReplyFaults, "Back to well-behaved replies.")
        .def(
            "reboot", [](Node& self, double silence_ms) { self.reboot(milliseconds(static_cast<long>(silence_ms))); },
            py::arg("silence_ms") = 300.0, "Silent for `silence_ms`, then back with its saved configuration.")
        .def("frames_heard", &Node::framesHeard)
        .def("replies_sent", &Node::repliesSent)
        .def("replies_dropped", &Node::repliesDropped)
        .def("heartbeats_sent", &Node::heartbeatsSent);

    NodeClass<MotorControllerNode, Node>(sim, "MotorControllerNode", "What simulated drivers and actuators share.")
        .def("in_bootloader", &MotorControllerNode::inBootloader)
        .def("inject_boot_fault", &MotorControllerNode::injectBootFault, py::arg("step"), py::arg("fault"),
             "Arms a one-shot fault for the next run of a bootloader step.")
        .def(
            "set_boot_timing",
            [](MotorControllerNode& self, double erase_time_scale, double new_speed_ack_delay_ms, double reboot_silence_ms) {
                BootTiming timing;
                timing.erase_time_scale = erase_time_scale;
                timing.new_speed_ack_delay = std::chrono::microseconds(static_cast<long long>(new_speed_ack_delay_ms * 1000));
                timing.reboot_silence = milliseconds(static_cast<long>(reboot_silence_ms));
                self.setBootTiming(timing);
            },
            py::arg("erase_time_scale") = 1.0, py::arg("new_speed_ack_delay_ms") = 100.0,
            py::arg("reboot_silence_ms") = 300.0, "The bootloader's erase and restart times (0 erases at once).")
        .def(
            "read_flash",
            [](MotorControllerNode& self, uint32_t address, std::size_t count) {
                return toBytes(self.readFlash(address, count));
            },
            py::arg("address"), py::arg("count"), "The simulated flash at [address, address + count).")
        .def(
            "set_error_code",
            [](MotorControllerNode& self, uint32_t code) { self.withFirmware([&](MotorFirmware& f) { f.setErrorCode(code); }); },
            py::arg("code"))
        .def(
            "set_driver_fault",
            [](MotorControllerNode& self, uint32_t fault) {
                self.withFirmware([&](MotorFirmware& f) { f.setDriverFault(fault); });
            },
            py::arg("fault"));
    NodeClass<DriverNode, MotorControllerNode>(sim, "DriverNode", "A simulated motor driver.")
        .def("set_bus", &DriverNode::setBus, py::arg("voltage"), py::arg("current"),
             "The supply: bus voltage and the current the electronics draw.");
    NodeClass<ActuatorNode, MotorControllerNode>(sim, "ActuatorNode", "A simulated actuator.");
    NodeClass<ImuNode, Node>(sim, "ImuNode", "A simulated inertial measurement unit.");
    NodeClass<EncoderNode, Node>(sim, "EncoderNode", "A simulated Vorlex encoder with an off-axis sensor chip.")
        .def("set_shaft_rate", &EncoderNode::setShaftRate, py::arg("degrees_per_second"),
             "Turns the shaft at this rate from now on.")
        .def(
            "set_shaft_angle",
            [](EncoderNode& self, double degrees) {
                self.withModel([&](EncoderModel& model) {
                    model.setShaftRate(0.0);
                    model.setShaftAngle(degrees);
                });
            },
            py::arg("degrees"), "Stops the shaft at this angle, for a test that turns it itself.");
}

}  // namespace

void bindSimulator(py::module_& m) {
    py::module_ sim = m.def_submodule("sim", "The device simulator: a bus of simulated nodes behind a virtual adapter.");
    py::module_::import("sys").attr("modules")["kinetra.sim"] = sim;

    py::enum_<NodeKind>(sim, "NodeKind")
        .value("Driver", NodeKind::Driver)
        .value("Actuator", NodeKind::Actuator)
        .value("Imu", NodeKind::Imu)
        .value("Encoder", NodeKind::Encoder);
    py::enum_<BootStep>(sim, "BootStep")
        .value("Synchronise", BootStep::Synchronise)
        .value("ChangeSpeed", BootStep::ChangeSpeed)
        .value("Erase", BootStep::Erase)
        .value("Write", BootStep::Write)
        .value("Read", BootStep::Read)
        .value("Go", BootStep::Go);
    py::enum_<BootFault>(sim, "BootFault")
        .value("None_", BootFault::None)
        .value("Refuse", BootFault::Refuse)
        .value("RefuseFinal", BootFault::RefuseFinal)
        .value("Silent", BootFault::Silent)
        .value("DropAck", BootFault::DropAck)
        .value("CorruptByte", BootFault::CorruptByte)
        .value("RebootMidWrite", BootFault::RebootMidWrite);

    bindNodes(sim);

    py::class_<AdapterProtocol, std::unique_ptr<AdapterProtocol, py::nodelete>>(sim, "Adapter",
                                                                                "The virtual adapter's state.")
        .def("channel_open", &AdapterProtocol::channelOpen)
        .def("bit_rate", &AdapterProtocol::bitRate)
        .def("saved_bit_rate", &AdapterProtocol::savedBitRate)
        .def("in_dfu_mode", &AdapterProtocol::inDfuMode)
        .def("frames_from_host", &AdapterProtocol::framesFromHost)
        .def("frames_to_host", &AdapterProtocol::framesToHost);

    bindSimulatorClass(m, sim);

    sim.def("console_help", &consoleHelp, "The console commands, one per line.");
    sim.def(
        "intel_hex_text",
        [](uint32_t address, const py::bytes& data, std::size_t record_size) {
            if (record_size < 1 || record_size > 255) throw py::value_error("record_size is 1 to 255");
            const std::string bytes = data;
            return intelHexText(address, std::vector<uint8_t>(bytes.begin(), bytes.end()), record_size);
        },
        py::arg("address"), py::arg("data"), py::arg("record_size") = 16,
        "Intel HEX text of `data` placed from `address`.");
    sim.def(
        "firmware_image",
        [](std::size_t size, uint8_t major, uint8_t minor, uint16_t patch) {
            if (size < 0x208) throw py::value_error("a firmware image is at least 0x208 bytes");
            return toBytes(firmwareImage(size, ImageVersion{major, minor, patch}));
        },
        py::arg("size"), py::arg("major"), py::arg("minor"), py::arg("patch"),
        "A made-up firmware of `size` bytes for 0x08000000 announcing the version the simulated bootloader "
        "reports after it starts.");
}

}  // namespace kinetra::python
