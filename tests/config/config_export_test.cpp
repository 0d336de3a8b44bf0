// Exporting a driver's configuration: the queries and their order, the exact
// document text, and the stop at the first failing query.

#include <kinetra/driver.h>

#include "config/config_document.h"
#include "config/config_export.h"
#include "config_test_support.h"
#include "devices/motor_node_fixture.h"
#include "devices/protocol/motor_controller_protocol.h"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

using kinetra::protocol::DeviceType;
using kinetra::test::MotorNodeTest;
using kinetra::test::replyBytes;
namespace motor = kinetra::protocol::motor;
namespace common = kinetra::protocol::common;
using u8 = unsigned char;
using u16 = unsigned short;
using u32 = unsigned int;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// The 19 reads, in the order they must go out.
const std::vector<uint8_t> kExportQueries = {
    motor::kGetCANBaudRate,
    motor::kGetDCBusTripLevels,
    motor::kGetBrakeResistorState,
    motor::kGetRegenCurrentTripLevel,
    motor::kGetMotorParameters,
    motor::kGetMotorPhaseParameters,
    motor::kGetMotorEncoderConfiguration,
    motor::kGetOutputEncoderConfiguration,
    motor::kGetGearBoxParameters,
    motor::kGetMotorCalibrationParameters,
    motor::kGetMotorThermistorConfiguration,
    motor::kGetStartupConfigs,
    motor::kGetPositionControllerGain,
    motor::kGetVelocityControllerGains,
    motor::kGetCurrentControllerGains,
    motor::kGetCurrentControllerBandwidth,
    common::kGetHardwareVersion,
    common::kGetFirmwareVersion,
    common::kGetFirmwareCommit,
};

// What the scripted driver answers, and the exact text it must give: an
// unlisted bit rate, NaN and infinities, a float that is not a short decimal,
// integral floats, a signed resolution and an 8-bit wrapped lower limit.
const char* const kScriptedDocument = R"({
    "Tarvex K3": {
        "brake_resistance_value": 2.5,
        "can_baud_rate": 4294967295,
        "current_controller_bandwidth": 1000.0,
        "current_gain": null,
        "current_integrator_gain": 1.5,
        "fw_commit": "ab\u0000cdef",
        "fw_version": "2.5.300",
        "gear_ratio": null,
        "hw_version": "1-2.3-4",
        "is_brake_resistor_enabled": true,
        "is_motor_thermistor_enabled": true,
        "motor_calib_current": 10.0,
        "motor_calib_voltage": 2.0,
        "motor_current_limit": 12.5,
        "motor_encoder_resolution_param": -16384,
        "motor_encoder_type": 4,
        "motor_encoder_use_index": true,
        "motor_kv_rating": 270,
        "motor_phase_inductance": 0.0001220703125,
        "motor_phase_resistance": 0.0625,
        "motor_pole_pairs": 7,
        "motor_temperature_lower_limit": 251,
        "motor_temperature_upper_limit": 5,
        "motor_thermistor_beta": 3950,
        "motor_thermistor_r_ref": 10000.0,
        "output_encoder_resolution_parameter": 4096,
        "output_encoder_type": 3,
        "output_encoder_use_index": false,
        "overvoltage_level": 56.5,
        "position_gain": 0.10000000149011612,
        "regen_current_trip_level": null,
        "startup_closed_loop": true,
        "startup_encoder_matching": false,
        "startup_index_search": true,
        "undervoltage_level": 10.0,
        "vel_gain": 0.25,
        "vel_integrator_gain": 0.5
    }
})";

class ConfigExportTest : public MotorNodeTest {
protected:
    void SetUp() override {
        MotorNodeTest::SetUp();
        device = &startNode(DeviceType::Driver);
        answerAll();
    }

    void answerAll() {
        device->answer(motor::kGetCANBaudRate, replyBytes(u32{123456}));
        device->answer(motor::kGetDCBusTripLevels, replyBytes(10.0f, 56.5f));
        device->answer(motor::kGetBrakeResistorState, replyBytes(2.5f, true, true, false));
        device->answer(motor::kGetRegenCurrentTripLevel, replyBytes(kNaN));
        device->answer(motor::kGetMotorParameters, replyBytes(u8{7}, u16{270}, 12.5f));
        device->answer(motor::kGetMotorPhaseParameters, replyBytes(0.0625f, 0.0001220703125f));
        device->answer(motor::kGetMotorEncoderConfiguration, replyBytes(u8{4}, int32_t{-16384}, true));
        device->answer(motor::kGetOutputEncoderConfiguration, replyBytes(u8{3}, int32_t{4096}, false));
        device->answer(motor::kGetGearBoxParameters, replyBytes(kInf));
        device->answer(motor::kGetMotorCalibrationParameters, replyBytes(2.0f, 10.0f));
        device->answer(motor::kGetMotorThermistorConfiguration, replyBytes(10000.0f, u16{3950}, u8{5}, true));
        device->answer(motor::kGetStartupConfigs, replyBytes(true, false, true));
        device->answer(motor::kGetPositionControllerGain, replyBytes(0.1f));
        device->answer(motor::kGetVelocityControllerGains, replyBytes(0.25f, 0.5f));
        device->answer(motor::kGetCurrentControllerGains, replyBytes(-kInf, 1.5f));
        device->answer(motor::kGetCurrentControllerBandwidth, replyBytes(1000.0f));
        device->answer(common::kGetHardwareVersion, replyBytes(u8{1}, u8{2}, u8{3}, u8{4}));
        device->answer(common::kGetFirmwareVersion, replyBytes(u8{2}, u8{5}, u16{300}));
        // Seven characters with a zero byte among them; the eighth is not part of the commit.
        device->answer(common::kGetFirmwareCommit, {'a', 'b', 0, 'c', 'd', 'e', 'f', 'X'});
    }

    std::vector<uint8_t> commandsSent() {
        std::vector<uint8_t> commands;
        for (can_frame_data frame : requestsTo()) commands.push_back(getCommandIdFromFrame(&frame));
        return commands;
    }

    kinetra::test::ScriptedDevice* device = nullptr;
};

TEST_F(ConfigExportTest, WritesTheExactDocumentFromNineteenQueriesInOrder) {
    Driver driver(kNode, &bus);
    bus.clearSent();
    const std::string text = driver.exportConfiguration();
    EXPECT_EQ(text, kScriptedDocument);
    EXPECT_EQ(commandsSent(), kExportQueries);
    for (can_frame_data frame : requestsTo()) EXPECT_TRUE(frame.can_id & (1u << 30)) << "every query is a remote frame";
    EXPECT_EQ(driver.exportConfiguration(), text) << "an unchanged driver exports the same bytes";
}

TEST_F(ConfigExportTest, StopsAtTheFirstFailingQuery) {
    for (std::size_t failing : {std::size_t{0}, std::size_t{8}, std::size_t{18}}) {
        SCOPED_TRACE("failing query " + std::to_string(failing + 1));
        Driver driver(kNode, &bus);
        device->answer(kExportQueries[failing], {}, 0);  // a reply too short to decode: the read times out
        bus.clearSent();
        EXPECT_EQ(driver.exportConfiguration(), "");
        const std::vector<uint8_t> expected(kExportQueries.begin(), kExportQueries.begin() + failing + 1);
        EXPECT_EQ(commandsSent(), expected) << "no query after the failing one";
        answerAll();
    }
}

TEST_F(ConfigExportTest, ResultCarriesTheDocumentOrNamesTheReadThatFailed) {
    Driver driver(kNode, &bus);
    const kinetra::ConfigResult complete = driver.exportConfiguration(kinetra::ConfigOptions{});
    EXPECT_TRUE(complete.ok());
    EXPECT_EQ(complete.document, kScriptedDocument);
    device->answer(motor::kGetGearBoxParameters, {}, 0);  // a reply too short to decode: the read times out
    const kinetra::ConfigResult failed = driver.exportConfiguration(kinetra::ConfigOptions{});
    EXPECT_EQ(failed.reason, kinetra::ConfigFailure::ReadFailed);
    EXPECT_EQ(failed.operation, "getGearBoxParameters");
    EXPECT_EQ(failed.status, RET_TIMEOUT);
    EXPECT_TRUE(failed.document.empty());
}

TEST(ConfigDocumentTest, CommitBytesThatAreNotUtf8AreReplacedAndTheRestStaysExact) {
    kinetra::config::DriverConfiguration settings;
    settings.firmware_commit = std::string("ab\xff\xc3z", 5);  // a stray byte and a truncated sequence
    const std::string text = kinetra::config::configurationDocument(settings);
    EXPECT_NE(text.find("\"fw_commit\": \"ab\xEF\xBF\xBD\xEF\xBF\xBDz\",\n"), std::string::npos) << text;
    settings.firmware_commit = "abzabcd";
    std::string clean = kinetra::config::configurationDocument(settings);
    const std::string replaced = "ab\xEF\xBF\xBD\xEF\xBF\xBDz";
    clean.replace(clean.find("abzabcd"), 7, replaced);
    EXPECT_EQ(text, clean);
}

}  // namespace
