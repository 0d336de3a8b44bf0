// The kinetra tool as a process, around the happy path: a bus at another bit
// rate, ports that answer nothing, exit codes a script can trust, refused
// arguments and set points, names of codes, and `kinetra sim` with the
// simulator's own arguments.

#include "support/cli_process.h"
#include "support/wait.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <functional>

#ifdef KINETRA_CLI_PATH

namespace kinetra::test::cli_bus {
namespace {

using nlohmann::json;

/// Runs the tool with no adapter listed: a subcommand that looked for one would end with 3.
ProcessResult tool(const std::vector<std::string>& arguments) {
    return runProcess(KINETRA_CLI_PATH, arguments, {{"KINETRA_SYSFS_ROOT", "/nonexistent-kinetra-sysfs"}});
}

/// `kinetra sim ARGS` in the background, and the port it prints.
class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& arguments) : process_(KINETRA_CLI_PATH, withSim(arguments)) {
        eventually(
            [&] {
                const std::string out = process_.output();
                const std::size_t at = out.find("port: ");
                const std::size_t end = at == std::string::npos ? at : out.find('\n', at);
                if (end == std::string::npos) return false;
                port_ = out.substr(at + 6, end - at - 6);
                return true;
            },
            std::chrono::milliseconds(5000));
    }
    const std::string& port() const { return port_; }
    int interrupt() { return process_.interrupt(); }

private:
    static std::vector<std::string> withSim(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "sim");
        return arguments;
    }
    BackgroundProcess process_;
    std::string port_;
};

/// A pseudo-terminal nobody answers on: what a port without an adapter looks like.
class SilentPty {
public:
    SilentPty() {
        char name[256] = {};
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) == 0) name_ = name;
    }
    ~SilentPty() {
        if (master_ >= 0) ::close(master_);
        if (slave_ >= 0) ::close(slave_);
    }
    SilentPty(const SilentPty&) = delete;
    SilentPty& operator=(const SilentPty&) = delete;
    const std::string& name() const { return name_; }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string name_;
};

json parsed(const ProcessResult& result) { return json::parse(result.out, nullptr, false); }

TEST(CliBitRate, ABusAtAnotherRateIsReachedWithBitrateAndFoundByAllRates) {
    // The simulator's bus at 250 kbit/s (code 5), through `kinetra sim` with its own options.
    SimProcess sim({"--driver", "7", "--bitrate", "5"});
    ASSERT_FALSE(sim.port().empty());
    struct Case {
        std::vector<std::string> arguments;
        std::function<void(const ProcessResult&)> check;
    };
    const Case cases[] = {
        {{"scan", "--time", "0.3"},
         [](const ProcessResult& r) {
             EXPECT_EQ(r.exit_code, 0) << r.err;
             EXPECT_NE(r.out.find("no nodes heard on"), std::string::npos) << r.out;
             EXPECT_NE(r.out.find("at 500k (kinetra scan --all-rates"), std::string::npos) << r.out;
         }},
        {{"scan", "--time", "0.3", "--bitrate", "250k", "--json"},
         [](const ProcessResult& r) {
             ASSERT_EQ(r.exit_code, 0) << r.err;
             const json doc = parsed(r);
             ASSERT_EQ(doc["nodes"].size(), 1u) << r.out;
             EXPECT_EQ(doc["nodes"][0]["node"], 7);
             EXPECT_EQ(doc["bit_rate"], "250k");
         }},
        {{"info", "7", "--bitrate", "250000", "--json"},
         [](const ProcessResult& r) {
             ASSERT_EQ(r.exit_code, 0) << r.err;
             EXPECT_EQ(parsed(r)["class"], "driver");
         }},
        {{"scan", "--all-rates", "--time", "0.3", "--json"},
         [](const ProcessResult& r) {
             ASSERT_EQ(r.exit_code, 0) << r.err;
             const json doc = parsed(r);
             ASSERT_EQ(doc["rates"].size(), 9u) << r.out;
             for (const json& rate : doc["rates"]) {
                 const bool here = rate["bit_rate"] == "250k";
                 ASSERT_EQ(rate["nodes"].size(), here ? 1u : 0u) << rate.dump();
                 if (here) {
                     EXPECT_EQ(rate["nodes"][0]["node"], 7);
                 }
             }
         }},
        {{"scan", "--all-rates", "--time", "0.3"},
         [](const ProcessResult& r) {
             EXPECT_EQ(r.exit_code, 0) << r.err;
             EXPECT_EQ(r.out, "at 250k: node 7 (driver)\n");
         }},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments = c.arguments;
        arguments.insert(arguments.end(), {"--slcan", sim.port()});
        c.check(tool(arguments));
    }
    EXPECT_EQ(sim.interrupt(), 0);
}

TEST(CliExitCodes, PortsWithoutAnAdapterAndFailedJsonRunsSaySo) {
    SilentPty silent;
    ASSERT_FALSE(silent.name().empty());
    struct Case {
        std::vector<std::string> arguments;
        int exit_code;
        const char* message;
    };
    const Case cases[] = {
        {{"scan", "--slcan", silent.name()}, 3, "no adapter answered on "},
        {{"info", "1", "--slcan", "/dev/null"}, 3, "no adapter answered on /dev/null"},
        // The cause without the library's source file and line.
        {{"info", "1", "--slcan", "/dev/kinetra-absent"}, 3, "cannot open /dev/kinetra-absent: Specified port"},
        {{"info", "0"}, 2, "NODE"},
        {{"torque", "1", "5", "--sim"}, 2, "beyond the device's limit of 1.000 Nm; --force sends it anyway"},
    };
    for (const Case& c : cases) {
        for (const bool json_wanted : {false, true}) {
            std::vector<std::string> arguments = c.arguments;
            if (json_wanted) arguments.push_back("--json");
            const ProcessResult r = tool(arguments);
            EXPECT_EQ(r.exit_code, c.exit_code) << arguments[0] << ": " << r.err;
            EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
            EXPECT_EQ(r.err.find(".cpp"), std::string::npos) << r.err;
            if (!json_wanted) {
                EXPECT_EQ(r.out, "") << "the library's own account stays quiet";
                continue;
            }
            const json doc = parsed(r);
            ASSERT_TRUE(doc.is_object()) << r.out;
            EXPECT_EQ(doc["exit_code"], c.exit_code);
            EXPECT_NE(doc["error"].get<std::string>().find(c.message), std::string::npos) << r.out;
        }
    }
}

TEST(CliArguments, SetPointsAreCheckedAgainstTheDeviceAndTheIdleStateIsNamed) {
    struct Case {
        std::vector<std::string> arguments;
        int exit_code;
        const char* err;
    };
    const Case cases[] = {
        {{"torque", "1", "-1.5", "--sim"}, 2, "torque -1.500 Nm is beyond the device's limit of 1.000 Nm"},
        {{"torque", "1", "1.5", "--sim", "--force"}, 0, "node 1 is idle: kinetra active 1 first"},
        {{"position", "1", "2", "--sim"}, 0, "node 1 is idle: kinetra active 1 first"},
        {{"velocity", "2", "1", "--sim"}, 0, "node 2 is idle: kinetra active 2 first"},
    };
    for (const Case& c : cases) {
        const ProcessResult r = tool(c.arguments);
        EXPECT_EQ(r.exit_code, c.exit_code) << c.arguments[0] << ": " << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
}

TEST(CliNames, StatesModesErrorsAndFaultsByNameAndNumber) {
    const ProcessResult r = tool({"info", "1", "--sim", "--json"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const json doc = parsed(r);
    EXPECT_EQ(doc["controller_state"], 0);
    EXPECT_EQ(doc["controller_state_name"], "idle");
    EXPECT_EQ(doc["controller_mode_name"], "none");
    EXPECT_EQ(doc["error_code_name"], "none");
    EXPECT_EQ(doc["fault_bits"], json::array());
    const ProcessResult text = tool({"info", "2", "--sim"});
    EXPECT_NE(text.out.find("controller state: idle (0)"), std::string::npos) << text.out;
}

TEST(CliUsage, VersionSimHelpAndBusOptionsInEveryHelp) {
    const ProcessResult version = tool({"--version"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out.rfind("kinetra 0.", 0), 0u) << version.out;
    const ProcessResult sim_help = tool({"sim", "--help"});
    EXPECT_EQ(sim_help.exit_code, 0);
    EXPECT_NE(sim_help.out.find("--bitrate CODE"), std::string::npos) << sim_help.out;
    EXPECT_EQ(tool({"sim", "--no-such-option"}).exit_code, 2);
    for (const char* sub : {"scan", "info", "monitor", "telemetry", "idle", "torque", "adapter", "flash", "calibrate"}) {
        const ProcessResult help = tool({sub, "--help"});
        for (const char* option : {"--port", "--slcan", "--sim", "--bitrate", "--json"}) {
            EXPECT_NE(help.out.find(option), std::string::npos) << sub << " " << option;
        }
    }
    const ProcessResult config_help = tool({"config", "diff", "--help"});
    EXPECT_NE(config_help.out.find("--bitrate"), std::string::npos);
}

}  // namespace
}  // namespace kinetra::test::cli_bus

#endif
