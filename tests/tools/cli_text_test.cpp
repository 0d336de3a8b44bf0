// The tool's pure text functions: frame decoding, the candump log line, bit-rate
// names, table layout and the choice of adapter.

#include "cli/device_text.h"
#include "cli/error_text.h"
#include "cli/exit_codes.h"
#include "cli/frame_text.h"
#include "cli/output.h"
#include "cli/port_list.h"
#include "cli/svg_plot.h"

#include "support/candump_parser.h"

#include "can/bus.h"
#include "devices/protocol/imu_protocol.h"
#include "devices/protocol/motor_controller_protocol.h"
#include "devices/protocol/payload.h"
#include "devices/protocol/vorlex_protocol.h"
#include "kinetra_sim/motor_model.h"

#include <kinetra/device_codes.h>
#include <kinetra/serial/serial.h>

#include <gtest/gtest.h>

#include <cstring>

namespace kinetra::cli {
namespace {

namespace protocol = kinetra::protocol;

can_frame_data nodeFrame(uint32_t node, uint8_t command, protocol::DeviceType type, uint64_t word, uint8_t dlc = 8) {
    can_frame_data frame{};
    frame.can_id = protocol::nodeFrameId(node, command, static_cast<uint8_t>(type));
    frame.can_dlc = dlc;
    protocol::setPayloadWord(frame, word);
    return frame;
}

uint64_t floats(float a, float b) {
    return protocol::PayloadPacker().put(a).put(b).word();
}

TEST(FrameText, DecodesWhatTheLibraryKnowsAndLeavesTheRestRaw) {
    const uint64_t euler = protocol::PayloadPacker().put(short{1234}).put(short{-250}).put(short{0}).word();
    const uint64_t commit = 0x6531633064656537ull;  // "7eed0c1e" in payload order
    struct Case {
        const char* what;
        can_frame_data frame;
        const char* device_class;
        const char* name;
        const char* values;
    };
    const Case cases[] = {
        {"heartbeat", nodeFrame(1, protocol::kHeartbeat, protocol::DeviceType::Driver, 0), "driver", "heartbeat", ""},
        {"two floats of a driver reply",
         nodeFrame(1, protocol::motor::kGetBusVoltageCurrent, protocol::DeviceType::Driver, floats(24.0f, 1.5f)),
         "driver", "getBusVoltageCurrent", "24.000 1.500"},
        {"IMU fixed point scaled as the proxy scales it",
         nodeFrame(3, protocol::imu::kGetEulerAngles, protocol::DeviceType::Imu, euler), "imu", "getEulerAngles",
         "12.340 -2.500 0.000"},
        {"encoder text reply", nodeFrame(4, protocol::common::kGetFirmwareCommit, protocol::DeviceType::Encoder, commit),
         "encoder", "getFirmwareCommit", "\"7eed0c1e\""},
        {"command the class does not have", nodeFrame(4, 0x7D, protocol::DeviceType::Encoder, 0xAB, 1), "encoder", "",
         ""},
        {"unknown device type code", nodeFrame(9, 0x46, static_cast<protocol::DeviceType>(6), 0, 2), "unknown", "", ""},
    };
    for (const Case& c : cases) {
        const DecodedFrame decoded = decodeFrame(c.frame);
        EXPECT_EQ(decoded.device_class, c.device_class) << c.what;
        EXPECT_EQ(decoded.command_name, c.name) << c.what;
        EXPECT_EQ(decoded.values, c.values) << c.what;
    }
    // Unknown commands keep their bytes, so nothing on the bus is hidden.
    EXPECT_NE(monitorLine(decodeFrame(cases[4].frame)).find("cmd 0x7D  [AB]"), std::string::npos);
}

TEST(FrameText, MotorRepliesAreNamedWithTheirOperationsValuesAndUnits) {
    const DecodedFrame decoded =
        decodeFrame(nodeFrame(1, protocol::motor::kGetBusVoltageCurrent, protocol::DeviceType::Driver, floats(24.0f, 1.5f)));
    EXPECT_EQ(decoded.operation, "getBusVoltage");
    EXPECT_NE(monitorLine(decoded).find("getBusVoltageCurrent  voltage 24.000 V, current 1.500 A"), std::string::npos)
        << monitorLine(decoded);
    const nlohmann::json json = monitorJson(decoded);
    EXPECT_EQ(json["fields"][1], (nlohmann::json{{"name", "current"}, {"value", "1.500"}, {"unit", "A"}}));
}

TEST(FrameText, HostQueriesAreMarkedAndNotDecoded) {
    can_frame_data query{};
    query.can_id = protocol::hostFrameId(1, protocol::motor::kGetBusVoltageCurrent, protocol::FrameKind::Remote);
    query.can_dlc = 8;
    const DecodedFrame decoded = decodeFrame(query);
    EXPECT_EQ(decoded.device_class, "host");
    EXPECT_TRUE(decoded.remote);
    EXPECT_TRUE(decoded.values.empty());
    EXPECT_NE(monitorLine(decoded).find("(query)"), std::string::npos);
}

TEST(FrameText, CandumpLinesReadBackAsTheFramesTheyRecord) {
    can_frame_data standard{};
    standard.can_id = 0x123;
    standard.can_dlc = 2;
    standard.data[0] = 0xDE;
    standard.data[1] = 0xAD;
    can_frame_data remote{};
    remote.can_id = protocol::hostFrameId(5, 0x46, protocol::FrameKind::Remote);
    remote.can_dlc = 8;
    const can_frame_data data = nodeFrame(1, 0x46, protocol::DeviceType::Driver, floats(24.0f, 0.0f));
    struct Case {
        can_frame_data frame;
        double time;
        const char* expected;
    };
    const Case cases[] = {
        {standard, 1700000000.5, "(1700000000.500000) can0 123#DEAD"},
        {remote, 12.0000004, "(0000000012.000000) can0 000002C6#R8"},
        {data, 1.9999996, "(0000000002.000000) can0 040000C6#0000C04100000000"},
    };
    for (const Case& c : cases) {
        const std::string line = candumpLine(c.frame, c.time, "can0");
        EXPECT_EQ(line, c.expected);
        const auto record = kinetra::test::parseCandumpLine(line);
        ASSERT_TRUE(record.has_value()) << line;
        EXPECT_EQ(record->id, c.frame.can_id & 0x1FFFFFFFu) << line;
        EXPECT_EQ(record->extended, (c.frame.can_id & 0x80000000u) != 0) << line;
        EXPECT_EQ(record->remote, (c.frame.can_id & 0x40000000u) != 0) << line;
        EXPECT_EQ(record->dlc, c.frame.can_dlc) << line;
        if (!record->remote) {
            EXPECT_EQ(0, std::memcmp(record->data.data(), c.frame.data, record->data.size()));
        }
    }
}

TEST(DeviceText, BitRatesByNameOrBitsPerSecond) {
    const std::pair<const char*, std::optional<CANBaudRate>> cases[] = {
        {"1M", CAN_BAUD_1M},     {"1000000", CAN_BAUD_1M}, {"10k", CAN_BAUD_10K},  {"500k", CAN_BAUD_500K},
        {"750000", CAN_BAUD_750K}, {"7k", std::nullopt},   {"1m", std::nullopt},    {"", std::nullopt},
        {"8", std::nullopt},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(parseBitRate(text), expected) << text;
    for (int rate = CAN_BAUD_10K; rate <= CAN_BAUD_1M; ++rate) {
        EXPECT_EQ(parseBitRate(bitRateName(static_cast<CANBaudRate>(rate))), static_cast<CANBaudRate>(rate));
    }
    EXPECT_EQ(bitRateName(static_cast<CANBaudRate>(-1)), "?");
}

TEST(DeviceText, FailuresNameNodeWhatAndStatus) {
    EXPECT_EQ(deviceFailure(5, "bus voltage", RET_TIMEOUT), "node 5: bus voltage: no reply within 200 ms (RET_TIMEOUT)");
    EXPECT_EQ(statusName(static_cast<ret_status_t>(3)), "RET_3");
    try {
        require(7, "x", RET_NOT_CONNECTED);
        FAIL() << "no error";
    } catch (const CliError& error) {
        EXPECT_EQ(error.code(), kExitDevice);
    }
    EXPECT_NO_THROW(require(7, "x", RET_OK));
    const std::pair<unsigned, const char*> classes[] = {{1, "driver"}, {2, "actuator"}, {3, "imu"},
                                                        {4, "encoder"}, {0, "unknown"}, {7, "unknown"}};
    for (const auto& [code, name] : classes) EXPECT_EQ(className(classOfType(code)), name) << code;
}

TEST(DeviceText, CodesReadByTheNamesOfTheSimulatedFirmware) {
    using kinetra::sim::ControllerState;
    using kinetra::sim::ControlMode;
    // The names follow the numbers the simulated firmware reports: a table that
    // slipped by one would call an active motor idle.
    const std::pair<unsigned, const char*> states[] = {
        {static_cast<unsigned>(ControllerState::Idle), "idle (0)"},
        {static_cast<unsigned>(ControllerState::Active), "active (1)"},
        {static_cast<unsigned>(ControllerState::Calibrating), "calibrating (2)"},
        {static_cast<unsigned>(ControllerState::EmergencyStop), "emergency stop (3)"},
        {4, "state 4 (4)"}};
    for (const auto& [state, text] : states) EXPECT_EQ(controllerStateText(state), text);
    const std::pair<unsigned, const char*> modes[] = {
        {static_cast<unsigned>(ControlMode::None), "none (0)"},
        {static_cast<unsigned>(ControlMode::Torque), "torque (4)"},
        {static_cast<unsigned>(ControlMode::ScurveTrajectory), "s-curve trajectory (8)"},
        {static_cast<unsigned>(ControlMode::OpenLoopVelocity), "open-loop velocity (12)"},
        {13, "mode 13 (13)"}};
    for (const auto& [mode, text] : modes) EXPECT_EQ(controllerModeText(mode), text);
    EXPECT_EQ(errorCodeText(0, true), "none (0)");
    EXPECT_EQ(errorCodeText(40, true), "DRIVER_ERROR_40 (40)");
    EXPECT_EQ(errorCodeText(255, true), "DRIVER_ERROR_UNRECOGNISED (255)");
    EXPECT_EQ(errorCodeText(300, false), "error 300 (300)");
    EXPECT_EQ(faultText(0), "none (0)");
    EXPECT_EQ(faultText(0x80000009ul), "0x80000009: bit 0, bit 3, bit 31");
}

TEST(ErrorText, CausesLoseTheLibrarysSourcePlace) {
    const std::pair<std::string, std::string> cases[] = {
        {serial::IOException("src/serial/serial_unix.cpp", 103, 2).what(), "No such file or directory"},
        {serial::IOException("src/serial/serial_unix.cpp", 9, "Specified port, /dev/x, does not exist.").what(),
         "Specified port, /dev/x, does not exist."},
        {"a file, named in a message, stays", "a file, named in a message, stays"},
        {"node 1: torque: no reply", "node 1: torque: no reply"},
    };
    for (const auto& [message, cause] : cases) EXPECT_EQ(withoutSourcePlace(message), cause) << message;
    EXPECT_EQ(errorDocument(kExitNoAdapter, "no adapter answered").dump(),
              R"({"error":"no adapter answered","exit_code":3})");
}

TEST(SvgPlot, PlotNamesEndInSvgInAnyCase) {
    for (const char* name : {"a.svg", "dir/plot.SVG", ".svg"}) EXPECT_TRUE(endsWithSvg(name)) << name;
    for (const char* name : {"plot.png", "svg", "plot.svg.txt", ""}) EXPECT_FALSE(endsWithSvg(name)) << name;
}

TEST(Output, TablesAlignEveryColumnToItsWidestCell) {
    const Table table{{"NODE", "CLASS"}, {{"1", "driver"}, {"262143", "imu"}}};
    EXPECT_EQ(renderTable(table, false), "NODE    CLASS\n1       driver\n262143  imu\n");
}

TEST(PortChoice, OneAdapterIsChosenNoneOrSeveralAreExplained) {
    const serial::PortInfo adapter{"/dev/ttyACM0", "Kinetra Zarvo", "USB VID:PID=0483:5740"};
    const serial::PortInfo second{"/dev/ttyACM1", "Zarvo CAN", ""};
    const serial::PortInfo other{"/dev/ttyUSB0", "FT232R USB UART", ""};
    EXPECT_EQ(chooseAdapter({other, adapter}), "/dev/ttyACM0");
    struct Case {
        std::vector<serial::PortInfo> ports;
        const char* message_part;
    };
    const Case failures[] = {
        {{}, "no Kinetra adapter found (no serial ports at all)"},
        {{other}, "/dev/ttyUSB0 (FT232R USB UART)"},
        {{adapter, other, second}, "several Kinetra adapters found: /dev/ttyACM0 (Kinetra Zarvo), /dev/ttyACM1"},
    };
    for (const Case& c : failures) {
        try {
            chooseAdapter(c.ports);
            ADD_FAILURE() << "chose a port";
        } catch (const CliError& error) {
            EXPECT_EQ(error.code(), kExitNoAdapter);
            EXPECT_NE(std::string(error.what()).find(c.message_part), std::string::npos) << error.what();
            EXPECT_NE(std::string(error.what()).find("--sim"), std::string::npos) << "says how to choose";
        }
    }
}

}  // namespace
}  // namespace kinetra::cli
