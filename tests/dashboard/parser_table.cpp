// The page message parser: what it takes, and that it refuses the rest with a reason.

#include "dashboard/access_policy.h"
#include "dashboard/page_message.h"

#include <gtest/gtest.h>

#include <variant>

namespace {

using namespace kinetra::dashboard;

TEST(DashboardPageMessage, TakesWellFormedRequests) {
    const auto motor = parsePageMessage(R"({"id": 7, "type": "motor", "action": "velocity", "node": 262143, "value": -1.5})");
    ASSERT_TRUE(motor.message) << motor.error;
    EXPECT_EQ(motor.message->id, 7);
    const auto& command = std::get<MotorCommand>(motor.message->request);
    EXPECT_EQ(command.action, MotorAction::Velocity);
    EXPECT_EQ(command.node, 262143u);
    EXPECT_EQ(command.value, -1.5);
    const auto write = parsePageMessage(R"({"type": "config_write", "node": 1, "member": "vel_gain", "value": 0.5})");
    ASSERT_TRUE(write.message);
    EXPECT_EQ(std::get<ConfigWrite>(write.message->request).member, "vel_gain");
}

TEST(DashboardPageMessage, RefusesWhatIsNotARequest) {
    const char* refused[] = {
        "", "null", "[]", "\"motor\"", "{", "{\"type\": 1}", "{\"type\": \"motor\"}",
        R"({"type": "motor", "action": "estop", "node": 262144})",
        R"({"type": "motor", "action": "estop", "node": -1})",
        R"({"type": "motor", "action": "estop", "node": 1.5})",
        R"({"type": "motor", "action": "position", "node": 1})",
        R"({"type": "motor", "action": "position", "node": 1, "value": null})",
        R"({"type": "motor", "action": "position", "node": 1, "value": -1e400})",
        R"({"id": "x", "type": "arm"})",
        R"({"type": "rate", "hz": 0.5})",
        R"({"type": "record", "on": 1})",
        R"({"type": "config_write", "node": 1, "member": "", "value": 1})",
        R"({"type": "config_write", "node": 1, "member": "a", "value": true})",
    };
    for (const char* text : refused) {
        const ParseResult result = parsePageMessage(text);
        EXPECT_FALSE(result.message) << text;
        EXPECT_FALSE(result.error.empty()) << text;
    }
    EXPECT_FALSE(parsePageMessage(std::string(kMaxPageMessageBytes + 1, ' ')).message);
}

TEST(DashboardListenAddress, ReadsHostAndPort) {
    struct Case {
        const char* text;
        bool ok;
        const char* host;
        unsigned port;
    } cases[] = {
        {"127.0.0.1:8080", true, "127.0.0.1", 8080}, {":9000", true, "127.0.0.1", 9000},
        {"0.0.0.0", true, "0.0.0.0", 0},            {"[::1]:80", true, "::1", 80},
        {"localhost:80", false, "", 0},              {"127.0.0.1:", false, "", 0},
        {"127.0.0.1:65536", false, "", 0},           {"127.0.0.1:8x", false, "", 0},
        {"::1:80", false, "", 0},                    {"[::1]80", false, "", 0},
    };
    for (const Case& c : cases) {
        const auto address = parseListenAddress(c.text);
        ASSERT_EQ(address.has_value(), c.ok) << c.text;
        if (!c.ok) continue;
        EXPECT_EQ(address->host, c.host) << c.text;
        EXPECT_EQ(address->port, c.port) << c.text;
    }
    EXPECT_FALSE(AccessPolicy({"127.0.0.2", 1}).tokenRequired());
    EXPECT_TRUE(AccessPolicy({"192.168.1.10", 1}).tokenRequired());
    EXPECT_EQ(AccessPolicy({"192.168.1.10", 1}).token().size(), kTokenLength);
    EXPECT_NE(AccessPolicy({"10.0.0.1", 1}).token(), AccessPolicy({"10.0.0.1", 1}).token());
}

}  // namespace
