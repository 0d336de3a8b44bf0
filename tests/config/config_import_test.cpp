// Importing a configuration document into a driver: which groups go out, in
// what order, with which values and pauses; what is skipped; the results; and
// documents that must be refused before anything is sent.

#include <kinetra/driver.h>

#include "config/config_import.h"
#include "devices/motor_node_fixture.h"
#include "devices/protocol/motor_controller_protocol.h"
#include "kinetra_sim/payload_values.h"
#include "support/manual_clock.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <functional>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace {

using kinetra::protocol::DeviceType;
using kinetra::test::ManualClock;
using kinetra::test::MotorNodeTest;
using nlohmann::json;
using namespace std::chrono_literals;
namespace motor = kinetra::protocol::motor;
namespace m = motor;

const char* const kModel = "Tarvex K3";

/// A complete document with the brake resistor and the thermistor enabled.
json fullDocument() {
    return json::parse(R"({"Tarvex K3": {
        "brake_resistance_value": 2.5, "can_baud_rate": 6, "current_controller_bandwidth": 1000.0,
        "current_gain": 0.5, "current_integrator_gain": 1.5, "fw_commit": "abcdefg", "fw_version": "2.5.300",
        "gear_ratio": 4.0, "hw_version": "1-2.3-4", "is_brake_resistor_enabled": true,
        "is_motor_thermistor_enabled": true, "motor_calib_current": 10.0, "motor_calib_voltage": 2.0,
        "motor_current_limit": 12.5, "motor_encoder_resolution_param": -16384, "motor_encoder_type": 4,
        "motor_encoder_use_index": true, "motor_kv_rating": 270, "motor_phase_inductance": 0.0001,
        "motor_phase_resistance": 0.06, "motor_pole_pairs": 7, "motor_temperature_lower_limit": 90,
        "motor_temperature_upper_limit": 100, "motor_thermistor_beta": 3950, "motor_thermistor_r_ref": 10000.0,
        "output_encoder_resolution_parameter": 4096, "output_encoder_type": 3, "output_encoder_use_index": false,
        "overvoltage_level": 56.5, "position_gain": 0.1, "regen_current_trip_level": 7.0,
        "startup_closed_loop": false, "startup_encoder_matching": false, "startup_index_search": true,
        "undervoltage_level": 10.0, "vel_gain": 0.25, "vel_integrator_gain": 0.5}})");
}

// The writes of a full document, in the order they must go out.
const std::vector<uint8_t> kAllWrites = {
    m::kSetDCBusTripLevels,       m::kSetBrakeResistor,         m::kSetRegenCurrentTripLevel,
    m::kSetMotorParameters,       m::kConfigureMotorEncoder,    m::kConfigureOutputEncoder,
    m::kSetGearBoxParameters,     m::kSetMotorCalibrationParameters, m::kSetMotorThermistorParameters,
    m::kSetStartupConfigs,        m::kSetPositionControllerGain, m::kSetVelocityControllerGains,
    m::kSetCurrentControllerBandwidth, m::kSetCANBaudRate,
};

std::vector<uint8_t> without(std::vector<uint8_t> commands, std::initializer_list<uint8_t> removed) {
    for (uint8_t command : removed) commands.erase(std::find(commands.begin(), commands.end(), command));
    return commands;
}

std::string only(const char* member, const json& value) { return json{{kModel, {{member, value}}}}.dump(); }

class ConfigImportTest : public MotorNodeTest {
protected:
    void SetUp() override {
        MotorNodeTest::SetUp();
        startNode(DeviceType::Driver);
    }

    struct Outcome {
        unsigned char result;
        std::vector<can_frame_data> frames;
        std::vector<uint8_t> commands;
        std::size_t pauses;
        std::string printed;
    };

    Outcome run(const std::string& text, unsigned node = kNode) {
        Driver driver(node, &bus);
        ManualClock clock;
        std::ostringstream out;
        bus.clearSent();
        Outcome outcome{};
        outcome.result = kinetra::config::importDriverConfiguration(driver, text, out, clock);
        outcome.frames = requestsTo(node);
        for (can_frame_data frame : outcome.frames) outcome.commands.push_back(getCommandIdFromFrame(&frame));
        for (auto pause : clock.sleeps()) EXPECT_EQ(pause, 50ms);
        outcome.pauses = clock.sleeps().size();
        outcome.printed = out.str();
        return outcome;
    }

    /// The payload of the one frame of `command` in `outcome`.
    template <typename... T>
    static std::tuple<T...> argumentsOf(const Outcome& outcome, uint8_t command) {
        for (const can_frame_data& frame : outcome.frames) {
            can_frame_data f = frame;
            if (getCommandIdFromFrame(&f) == command) {
                return kinetra::sim::unpackWord<T...>(kinetra::protocol::payloadWord(frame));
            }
        }
        ADD_FAILURE() << "no frame of command " << int(command);
        return {};
    }
};

struct GroupCase {
    const char* name;
    std::function<std::string()> document;
    std::vector<uint8_t> commands;
    unsigned char result;
};

TEST_F(ConfigImportTest, SendsOneFrameAndOnePausePerAppliedGroupInOrder) {
    const auto edited = [](std::function<void(json&)> edit) {
        return [edit] {
            json doc = fullDocument();
            edit(doc[kModel]);
            return doc.dump();
        };
    };
    const std::vector<GroupCase> cases = {
        {"full document, brake resistor and thermistor enabled", edited([](json&) {}), kAllWrites, 1},
        {"neither enabled: no frame and no pause for them", edited([](json& d) {
             d["is_brake_resistor_enabled"] = false;
             d["is_motor_thermistor_enabled"] = false;
         }),
         without(kAllWrites, {m::kSetBrakeResistor, m::kSetMotorThermistorParameters}), 1},
        {"a null member skips its group", edited([](json& d) { d["motor_pole_pairs"] = nullptr; }),
         without(kAllWrites, {m::kSetMotorParameters}), 1},
        {"a missing member skips its group", edited([](json& d) { d.erase("vel_integrator_gain"); }),
         without(kAllWrites, {m::kSetVelocityControllerGains}), 1},
        {"output encoder without use_index: the whole group is skipped",
         edited([](json& d) {
             d["output_encoder_type"] = 0;
             d.erase("output_encoder_use_index");
         }),
         without(kAllWrites, {m::kConfigureOutputEncoder}), 1},
        {"bit rate outside the table: the others are applied, the last fails",
         edited([](json& d) { d["can_baud_rate"] = 4294967295u; }), without(kAllWrites, {m::kSetCANBaudRate}), 0},
        {"only the position gain", [] { return only("position_gain", 5); }, {m::kSetPositionControllerGain}, 1},
        {"another model's document", [] { return R"({"Tarvex K2": {"position_gain": 5}})"; }, {}, 1},
        {"a top level that is an array", [] { return R"([{"Tarvex K3": {"position_gain": 5}}])"; }, {}, 1},
        {"a model member that is not an object", [] { return R"({"Tarvex K3": [1, 2]})"; }, {}, 1},
        {"unknown and ignored members only", [] { return R"({"Tarvex K3": {"current_gain": "x", "zz": 1}})"; }, {},
         1},
        {"a duplicate member: the last one counts",
         [] { return R"({"Tarvex K3": {"position_gain": "x", "position_gain": 2}})"; },
         {m::kSetPositionControllerGain}, 1},
        {"a 4 MB document", [] {
             json doc = json::parse(only("gear_ratio", 2));
             doc[kModel]["notes"] = std::string(4 << 20, 'n');
             return doc.dump();
         },
         {m::kSetGearBoxParameters}, 1},
        {"nested 60 levels deep", [] { return std::string(60, '[') + std::string(60, ']'); }, {}, 1},
    };
    for (const GroupCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = run(c.document());
        EXPECT_EQ(outcome.commands, c.commands);
        EXPECT_EQ(outcome.result, c.result);
        // Every operation is followed by its pause, a failing one too.
        const std::size_t failed = c.result == 0 ? 1 : 0;
        EXPECT_EQ(outcome.pauses, outcome.frames.size() + failed);
    }
}

// Every member of a full document reaches its own place in its own frame: the
// document's values are all different where a mix-up could hide.
TEST_F(ConfigImportTest, WritesEachMemberIntoItsOwnField) {
    using kinetra::sim::packWord;
    using u8 = unsigned char;
    using u16 = unsigned short;
    const Outcome full = run(fullDocument().dump());
    const std::vector<std::pair<uint8_t, uint64_t>> expected = {
        {m::kSetDCBusTripLevels, packWord(10.0f, 56.5f)},
        {m::kSetBrakeResistor, packWord(2.5f, true)},
        {m::kSetRegenCurrentTripLevel, packWord(7.0f)},
        {m::kSetMotorParameters, packWord(u8{7}, u16{270}, 12.5f)},
        {m::kConfigureMotorEncoder, packWord(u8{4}, int32_t{-16384}, true)},
        {m::kConfigureOutputEncoder, packWord(u8{3}, int32_t{4096}, false, true)},
        {m::kSetGearBoxParameters, packWord(4.0f)},
        {m::kSetMotorCalibrationParameters, packWord(2.0f, 10.0f)},
        {m::kSetMotorThermistorParameters, packWord(10000.0f, u16{3950})},
        {m::kSetStartupConfigs, packWord(true, false, false)},
        {m::kSetPositionControllerGain, packWord(0.1f)},
        {m::kSetVelocityControllerGains, packWord(0.25f, 0.5f)},
        {m::kSetCurrentControllerBandwidth, packWord(1000.0f)},
        {m::kSetCANBaudRate, packWord(uint32_t{500000})},  // selector 6 is 500 kbit/s
    };
    ASSERT_EQ(full.frames.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(full.commands[i], expected[i].first) << i;
        EXPECT_EQ(kinetra::protocol::payloadWord(full.frames[i]), expected[i].second)
            << "command " << int(expected[i].first);
    }
    // The three start-up flags in the other orders a mix-up could hide in.
    for (const auto& [index_search, matching, closed_loop] : {std::tuple{false, true, false},
                                                              std::tuple{false, false, true}}) {
        const Outcome startup = run(json{{kModel,
                                          {{"startup_index_search", index_search},
                                           {"startup_encoder_matching", matching},
                                           {"startup_closed_loop", closed_loop}}}}
                                        .dump());
        EXPECT_EQ((argumentsOf<bool, bool, bool>(startup, m::kSetStartupConfigs)),
                  std::make_tuple(index_search, matching, closed_loop));
    }

    struct Conversion {
        const char* name;
        std::string document;
        std::tuple<unsigned char, unsigned short, float> expected;
    };
    const auto motor = [](const json& poles, const json& kv, const json& limit) {
        return json{{kModel, {{"motor_pole_pairs", poles}, {"motor_kv_rating", kv}, {"motor_current_limit", limit}}}}
            .dump();
    };
    constexpr float kLargest = std::numeric_limits<float>::max();
    const std::vector<Conversion> conversions = {
        {"fractions truncate, true reads as 1.0", motor(3.9, 100, true), {3, 100, 1.0f}},
        {"the widest values fit", motor(255, 65535, kLargest), {255, 65535, kLargest}},
        {"truncated into the field; a double that rounds to the largest float",
         motor(-0.9, 65535.9, -3.4028235e38), {0, 65535, -kLargest}},
    };
    for (const Conversion& c : conversions) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = run(c.document);
        EXPECT_EQ(outcome.result, 1);
        EXPECT_EQ((argumentsOf<unsigned char, unsigned short, float>(outcome, m::kSetMotorParameters)), c.expected);
    }
}

TEST_F(ConfigImportTest, OutputEncoderTypeZeroDisablesWhateverTheOtherValues) {
    json doc = fullDocument();
    doc[kModel]["output_encoder_type"] = 0;
    doc[kModel]["output_encoder_resolution_parameter"] = "not read";
    doc[kModel]["output_encoder_use_index"] = 17;
    const Outcome outcome = run(doc.dump());
    EXPECT_EQ(outcome.commands, kAllWrites);
    for (const can_frame_data& frame : outcome.frames) {
        can_frame_data f = frame;
        if (getCommandIdFromFrame(&f) != m::kConfigureOutputEncoder) continue;
        EXPECT_EQ(kinetra::protocol::payloadWord(frame), 0u) << "the disable command carries no settings";
    }
}

TEST_F(ConfigImportTest, PrintsTheParsedDocumentWithALineEnd) {
    EXPECT_EQ(run(R"({"Tarvex K3":{"position_gain":5}})").printed,
              "{\n    \"Tarvex K3\": {\n        \"position_gain\": 5\n    }\n}\n");
}

TEST_F(ConfigImportTest, AFailingGroupEndsTheImportAfterItsPause) {
    // Nobody at node 77: the first write fails, nothing more is attempted.
    const Outcome outcome = run(fullDocument().dump(), 77);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_TRUE(outcome.frames.empty());
    EXPECT_EQ(outcome.pauses, 1u);
}

TEST_F(ConfigImportTest, TextThatDoesNotParseThrowsAndSendsNothing) {
    const std::vector<std::pair<const char*, std::string>> texts = {
        {"empty", ""},
        {"truncated", "{"},
        {"not JSON", "Tarvex K3: position_gain = 5"},
        {"trailing comma", R"({"Tarvex K3": {"position_gain": 5,}})"},
        {"comment", "// backup\n{\"Tarvex K3\": {\"position_gain\": 5}}"},
        {"two documents", R"({"Tarvex K3": {}} {})"},
        {"invalid UTF-8 in a string", "{\"Tarvex K3\": {\"fw_commit\": \"\xff\"}}"},
        {"a number beyond double", R"({"Tarvex K3": {"position_gain": 1e400}})"},
        {"nested 1000 levels deep", std::string(1000, '[') + std::string(1000, ']')},
        {"a megabyte of opening brackets", std::string(1 << 20, '[')},
    };
    for (const auto& [name, text] : texts) {
        SCOPED_TRACE(name);
        Driver driver(kNode, &bus);
        ManualClock clock;
        std::ostringstream out;
        bus.clearSent();
        try {
            kinetra::config::importDriverConfiguration(driver, text, out, clock);
            ADD_FAILURE() << "no exception";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Failed to parse configuration file: invalid JSON format");
        }
        EXPECT_TRUE(requestsTo().empty());
        EXPECT_EQ(out.str(), "") << "nothing printed";
        EXPECT_TRUE(clock.sleeps().empty());
    }
}

// Fault pinned: a member of the wrong type used to throw only when its group was
// reached, after the groups before it had been written to the driver.
TEST_F(ConfigImportTest, AWrongTypeInAnyAppliedGroupThrowsBeforeTheFirstFrame) {
    const std::vector<std::pair<const char*, json>> wrong = {
        {"can_baud_rate", "6"},
        {"undervoltage_level", "10"},
        {"motor_encoder_use_index", 1},
        {"startup_closed_loop", 0.0},
        {"motor_pole_pairs", json::array()},
        {"motor_thermistor_beta", json::object()},
        {"output_encoder_resolution_parameter", "4096"},
        {"brake_resistance_value", "2.5"},
    };
    for (const auto& [member, value] : wrong) {
        SCOPED_TRACE(member);
        json doc = fullDocument();
        doc[kModel][member] = value;
        Driver driver(kNode, &bus);
        ManualClock clock;
        std::ostringstream out;
        bus.clearSent();
        try {
            kinetra::config::importDriverConfiguration(driver, doc.dump(), out, clock);
            ADD_FAILURE() << "no exception";
        } catch (const json::type_error& e) {
            EXPECT_NE(std::string(e.what()).find(std::string(member) + ": type must be"), std::string::npos)
                << e.what();
        }
        EXPECT_TRUE(requestsTo().empty());
        EXPECT_TRUE(clock.sleeps().empty());
    }
}

// Fault pinned: a value the driver's set operation refuses (position_gain 1e308
// is infinite as a float) stopped the import halfway with the groups before it
// written, and an integer too wide for its field was wrapped into another
// setting (300 pole pairs went out as 44).
TEST_F(ConfigImportTest, AValueItsFieldCannotCarryIsRefusedByNameBeforeTheFirstFrame) {
    constexpr double kRoundsToInfinity = 0x1.ffffffp+127;  // the largest float plus half its last step
    const std::vector<std::pair<const char*, json>> refused = {
        {"position_gain", 1e308},
        {"undervoltage_level", -1e39},
        {"vel_integrator_gain", kRoundsToInfinity},
        {"motor_thermistor_r_ref", -kRoundsToInfinity},
        {"can_baud_rate", 4294967296u},
        {"can_baud_rate", -1},
        {"motor_pole_pairs", 256},
        {"motor_pole_pairs", -1},
        {"output_encoder_type", 1e300},
        {"motor_encoder_type", 18446744073709551615u},
        {"motor_kv_rating", 65536},
        {"motor_thermistor_beta", -0.0001e10},
        {"motor_encoder_resolution_param", 2147483648u},
        {"output_encoder_resolution_parameter", -2147483649.5},
        {"output_encoder_resolution_parameter", -2147483649},
    };
    for (const auto& [member, value] : refused) {
        SCOPED_TRACE(std::string(member) + " " + value.dump());
        json doc = fullDocument();
        doc[kModel][member] = value;
        Driver driver(kNode, &bus);
        ManualClock clock;
        std::ostringstream out;
        bus.clearSent();
        try {
            kinetra::config::importDriverConfiguration(driver, doc.dump(), out, clock);
            ADD_FAILURE() << "no exception";
        } catch (const json::out_of_range& e) {
            EXPECT_NE(std::string(e.what()).find(std::string(member) + ": " + value.dump() + " does not fit"),
                      std::string::npos)
                << e.what();
        }
        EXPECT_TRUE(requestsTo().empty());
        EXPECT_TRUE(clock.sleeps().empty());
    }
}

TEST_F(ConfigImportTest, MembersNoAppliedGroupReadsAreNotChecked) {
    json doc = fullDocument();
    auto& d = doc[kModel];
    d["is_brake_resistor_enabled"] = false;
    d["brake_resistance_value"] = "unused";
    d["is_motor_thermistor_enabled"] = false;
    d["motor_thermistor_r_ref"] = json::array();
    d["motor_thermistor_beta"] = "unused";
    d["hw_version"] = 12;
    d["motor_phase_resistance"] = "ignored";
    const Outcome outcome = run(doc.dump());
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.commands, without(kAllWrites, {m::kSetBrakeResistor, m::kSetMotorThermistorParameters}));
}

// The import that reports: the refused member and why, or the write that failed.
TEST_F(ConfigImportTest, ResultNamesTheRefusedMemberOrTheFailedWrite) {
    struct ResultCase {
        const char* name;
        std::string text;
        unsigned node;
        kinetra::ConfigFailure reason;
        std::string member_or_operation;
        std::string line;
    };
    const auto edited = [](const char* member, const json& value) {
        json doc = fullDocument();
        doc[kModel][member] = value;
        return doc.dump();
    };
    using kinetra::ConfigFailure;
    const std::vector<ResultCase> cases = {
        {"complete", fullDocument().dump(), kNode, ConfigFailure::None, "", ""},
        {"wrong type", edited("motor_pole_pairs", "seven"), kNode, ConfigFailure::WrongType, "motor_pole_pairs",
         "motor_pole_pairs: expected a number, got a string"},
        {"flag expected", edited("motor_encoder_use_index", json::array()), kNode, ConfigFailure::WrongType,
         "motor_encoder_use_index", "motor_encoder_use_index: expected a boolean, got an array"},
        {"does not fit", edited("motor_pole_pairs", 300), kNode, ConfigFailure::DoesNotFit, "motor_pole_pairs",
         "motor_pole_pairs: 300 does not fit an unsigned 8-bit integer (0 to 255)"},
        {"not JSON", "{", kNode, ConfigFailure::NotJson, "", ""},
        {"absent node: the first write fails", fullDocument().dump(), kNode + 1, ConfigFailure::WriteFailed,
         "setDCBusTripLevels", "setDCBusTripLevels failed with status " + std::to_string(RET_NOT_CONNECTED)},
    };
    for (const ResultCase& c : cases) {
        SCOPED_TRACE(c.name);
        Driver driver(c.node, &bus);
        ManualClock clock;
        std::ostringstream out;
        bus.clearSent();
        kinetra::ConfigOptions options;
        options.print_document = false;
        const kinetra::ConfigResult result =
            kinetra::config::importDriverConfigurationResult(driver, c.text, options, out, clock);
        EXPECT_EQ(result.reason, c.reason);
        EXPECT_TRUE(out.str().empty()) << "the document is printed only on request";
        if (c.reason == ConfigFailure::WriteFailed) {
            EXPECT_EQ(result.operation, c.member_or_operation);
            EXPECT_EQ(result.status, RET_NOT_CONNECTED);
            EXPECT_EQ(result.groups_written, 0u);
        } else {
            EXPECT_EQ(result.member, c.member_or_operation);
        }
        if (!c.line.empty()) {
            EXPECT_EQ(result.text, c.line);
        }
        if (c.reason == ConfigFailure::None) {
            EXPECT_EQ(result.groups_written, kAllWrites.size());
        } else if (c.reason != ConfigFailure::WriteFailed) {
            EXPECT_TRUE(requestsTo(c.node).empty()) << "a refused document sends nothing";
        }
    }
}

/// A clock whose pauses take no time and set `flag` once there have been `after`.
class CancellingClock : public kinetra::ProcedureClock {
public:
    CancellingClock(std::atomic<bool>& flag, std::size_t after) : flag_(flag), after_(after) {}
    clock::time_point now() override { return clock::time_point{}; }
    void sleepFor(clock::duration) override {
        if (++pauses_ == after_) flag_ = true;
    }

private:
    std::atomic<bool>& flag_;
    std::size_t after_;
    std::size_t pauses_ = 0;
};

// Regression: an import asked to stop went on writing every remaining group.
TEST_F(ConfigImportTest, ACancelledImportSendsNoFurtherGroup) {
    for (std::size_t after : {std::size_t{0}, std::size_t{1}, std::size_t{3}}) {
        SCOPED_TRACE(after);
        std::atomic<bool> flag{after == 0};
        CancellingClock clock(flag, after);
        Driver driver(kNode, &bus);
        std::ostringstream out;
        bus.clearSent();
        kinetra::ConfigOptions options;
        options.print_document = false;
        options.cancel = &flag;
        const kinetra::ConfigResult result =
            kinetra::config::importDriverConfigurationResult(driver, fullDocument().dump(), options, out, clock);
        EXPECT_EQ(result.reason, kinetra::ConfigFailure::Cancelled);
        EXPECT_EQ(result.groups_written, after);
        EXPECT_EQ(requestsTo().size(), after);
    }
}

}  // namespace
