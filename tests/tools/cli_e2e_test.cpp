// The kinetra tool run as a process: against its in-process simulator, against
// kinetra-sim in another process, with bad input, without and with several
// adapters, and in a real terminal under tmux.

#include "support/candump_parser.h"
#include "support/cli_process.h"
#include "support/wait.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#ifdef KINETRA_CLI_PATH

namespace kinetra::test {
namespace {

// Runs of spaces folded to one, so aligned table columns compare as plain text.
// (std::regex would do, but GCC 12 warns inside it under the sanitizers.)
std::string squeezed(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == ' ' && !out.empty() && out.back() == ' ') continue;
        out += c;
    }
    return out;
}

// The text after `key` up to the next character in `ends`, or nothing without `key`.
std::string after(const std::string& text, const std::string& key, const char* ends) {
    const std::size_t at = text.find(key);
    if (at == std::string::npos) return {};
    const std::size_t from = at + key.size();
    return text.substr(from, text.find_first_of(ends, from) - from);
}

namespace fs = std::filesystem;
using nlohmann::json;

ProcessResult kinetra(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& env = {}) {
    return runProcess(KINETRA_CLI_PATH, arguments, env);
}

std::size_t lineCount(const std::string& text) {
    std::size_t lines = 0;
    for (char c : text) lines += c == '\n';
    return lines;
}

/// An empty sysfs tree, or one with USB serial adapters of the given product names.
class FakeSysfs {
public:
    explicit FakeSysfs(const std::vector<std::string>& products) {
        root_ = fs::temp_directory_path() / ("kinetra-cli-sysfs-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "class" / "tty");
        fs::create_directories(root_ / "bus" / "usb");
        int index = 0;
        for (const std::string& product : products) {
            const std::string id = "1-" + std::to_string(++index);
            const fs::path device = root_ / "devices" / "usb1" / id;
            const fs::path interface_dir = device / (id + ":1.0");
            fs::create_directories(interface_dir);
            std::ofstream(device / "idVendor") << "0483\n";
            std::ofstream(device / "idProduct") << "5740\n";
            std::ofstream(device / "product") << product << "\n";
            const fs::path tty = root_ / "class" / "tty" / ("ttyACM" + std::to_string(index - 1));
            fs::create_directories(tty);
            fs::create_directory_symlink(interface_dir, tty / "device");
            fs::create_directory_symlink(root_ / "bus" / "usb", interface_dir / "subsystem");
        }
    }
    ~FakeSysfs() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    std::string root() const { return root_.string(); }

private:
    fs::path root_;
};

TEST(CliUsage, BadInputIsOneLineNamingTheArgumentAndNothingOpens) {
    struct Case {
        std::vector<std::string> arguments;
        int exit_code;
        const char* names;
    };
    // Without a bus option and without adapters: had anything tried to open a
    // port, the exit code would be 3, not the usage code.
    const Case cases[] = {
        {{"frobnicate"}, 2, "frobnicate"},
        {{"scan", "--bogus"}, 2, "--bogus"},
        {{"info"}, 2, "NODE"},
        {{"info", "0"}, 2, "NODE"},
        {{"info", "262144"}, 2, "NODE"},
        {{"info", "x1"}, 2, "NODE"},
        {{"velocity", "1", "nan"}, 2, "TURNS_PER_S"},
        {{"position", "1", "inf"}, 2, "TURNS"},
        {{"telemetry", "1", "--rate", "0"}, 2, "--rate"},
        // Not-a-number passed range checks, and a zero count meant "for ever".
        {{"scan", "--time", "nan"}, 2, "--time"},
        {{"monitor", "--duration", "nan"}, 2, "--duration"},
        {{"monitor", "--duration", "0"}, 2, "--duration"},
        {{"telemetry", "1", "--count", "0"}, 2, "--count"},
        {{"telemetry", "1", "--rate", "nan"}, 2, "--rate"},
        {{"position", "1", "-inf"}, 2, "TURNS"},
        {{"torque", "1", "-nan"}, 2, "NM"},
        {{"scan", "--bitrate", "7k"}, 2, "--bitrate"},
        {{"scan", "--sim", "--all-rates", "--time", "inf"}, 2, "--time"},
        {{"adapter", "bitrate", "7k"}, 2, "RATE"},
        {{"scan", "--sim", "--slcan", "/dev/null"}, 2, "--slcan"},
        {{"monitor", "--candump", "/nonexistent-dir/trace.log"}, 4, "--candump"},
    };
    FakeSysfs empty({});
    for (const Case& c : cases) {
        const ProcessResult result = kinetra(c.arguments, {{"KINETRA_SYSFS_ROOT", empty.root()}});
        std::string shown;
        for (const auto& a : c.arguments) shown += a + " ";
        EXPECT_EQ(result.exit_code, c.exit_code) << shown << result.err;
        EXPECT_EQ(lineCount(result.err), 1u) << shown << result.err;
        EXPECT_NE(result.err.find(c.names), std::string::npos) << shown << result.err;
        EXPECT_TRUE(result.out.empty()) << shown;
    }
}

TEST(CliUsage, HelpListsExitCodesAndEverySubcommandHasAnExample) {
    const ProcessResult help = kinetra({"--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_NE(help.out.find("0 ok, 1 device error, 2 usage, 3 no adapter, 4 bad file"), std::string::npos);
    for (const char* sub : {"ports", "scan", "info", "monitor", "telemetry", "idle", "active", "estop", "clear-errors",
                            "position", "velocity", "torque", "adapter", "flash", "config", "calibrate"}) {
        const ProcessResult result = kinetra({sub, "--help"});
        EXPECT_EQ(result.exit_code, 0) << sub;
        EXPECT_NE(result.out.find("Example:\n  kinetra " + std::string(sub)), std::string::npos) << sub;
    }
}

TEST(CliAdapterChoice, NoneOrSeveralAdaptersAreExplainedAndOneIsUsed) {
    FakeSysfs none({"FT232R USB UART"});
    const ProcessResult missing = kinetra({"scan"}, {{"KINETRA_SYSFS_ROOT", none.root()}});
    EXPECT_EQ(missing.exit_code, 3);
    EXPECT_NE(missing.err.find("no Kinetra adapter found (serial ports /dev/ttyACM0 (FT232R USB UART))"),
              std::string::npos)
        << missing.err;
    EXPECT_NE(missing.err.find("--port PATH"), std::string::npos);

    FakeSysfs two({"Kinetra Zarvo", "Kinetra Zarvo"});
    const ProcessResult several = kinetra({"info", "1"}, {{"KINETRA_SYSFS_ROOT", two.root()}});
    EXPECT_EQ(several.exit_code, 3);
    EXPECT_NE(several.err.find("several Kinetra adapters found: /dev/ttyACM0 (Kinetra Zarvo), /dev/ttyACM1"),
              std::string::npos)
        << several.err;

    FakeSysfs one({"Kinetra Zarvo"});
    const ProcessResult chosen = kinetra({"idle", "1"}, {{"KINETRA_SYSFS_ROOT", one.root()}});
    EXPECT_EQ(chosen.exit_code, 3);
    EXPECT_NE(chosen.err.find("cannot open /dev/ttyACM0"), std::string::npos) << chosen.err;

    const ProcessResult from_env = kinetra({"idle", "1"}, {{"KINETRA_PORT", "/dev/kinetra-absent"}});
    EXPECT_EQ(from_env.exit_code, 3);
    EXPECT_NE(from_env.err.find("cannot open /dev/kinetra-absent"), std::string::npos) << from_env.err;
}

TEST(CliSim, ReadCommandsGiveParseableJsonAndTables) {
    struct Case {
        std::vector<std::string> arguments;
        std::function<void(const json&)> check;
    };
    const Case cases[] = {
        {{"scan", "--time", "0.3"},
         [](const json& doc) {
             ASSERT_EQ(doc["nodes"].size(), 4u);
             const char* classes[] = {"driver", "actuator", "imu", "encoder"};
             for (unsigned i = 0; i < 4; ++i) {
                 EXPECT_EQ(doc["nodes"][i]["node"], i + 1);
                 EXPECT_EQ(doc["nodes"][i]["type"], i + 1);
                 EXPECT_EQ(doc["nodes"][i]["class"], classes[i]);
                 EXPECT_EQ(doc["nodes"][i]["commit"].get<std::string>().size() >= 7, true);
             }
             EXPECT_EQ(doc["nodes"][0]["firmware"], "2.4.17");
         }},
        {{"info", "1"},
         [](const json& doc) {
             EXPECT_EQ(doc["class"], "driver");
             EXPECT_EQ(doc["hardware"], "1.3.0.0");
             EXPECT_EQ(doc["bus_voltage"], 24.0);
             EXPECT_EQ(doc["error_code"], 0);
         }},
        {{"info", "4"},
         [](const json& doc) {
             EXPECT_EQ(doc["class"], "encoder");
             EXPECT_EQ(doc["bit_rate"], "500k");
         }},
        {{"telemetry", "1", "--once"},
         [](const json& doc) {
             EXPECT_EQ(doc["bus_voltage"], 24.0);
             EXPECT_EQ(doc["motor_temperature"], 25.0);
             EXPECT_EQ(doc["driver_temperature"], 30.0);
         }},
        {{"telemetry", "3", "--once"}, [](const json& doc) { EXPECT_TRUE(doc["quaternion"].is_array()); }},
        {{"ports"},
         [](const json& doc) {
             bool adapter = false;
             for (const auto& port : doc["ports"]) adapter = adapter || port["adapter"].get<bool>();
             EXPECT_TRUE(adapter);
         }},
        {{"adapter"}, [](const json& doc) { EXPECT_EQ(doc["firmware"], "1.2.3"); }},
        {{"adapter", "bitrate", "500k"}, [](const json& doc) { EXPECT_EQ(doc["bit_rate"], "500k"); }},
        {{"position", "1", "5"}, [](const json& doc) { EXPECT_EQ(doc["value"], 5.0); }},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments = c.arguments;
        arguments.insert(arguments.end(), {"--sim", "--json"});
        const ProcessResult result = kinetra(arguments);
        ASSERT_EQ(result.exit_code, 0) << arguments[0] << ": " << result.err;
        const json doc = json::parse(result.out, nullptr, false);
        ASSERT_FALSE(doc.is_discarded()) << arguments[0] << ": " << result.out;
        c.check(doc);
    }
    const ProcessResult table = kinetra({"scan", "--sim", "--time", "0.3"});
    EXPECT_EQ(table.exit_code, 0);
    EXPECT_NE(squeezed(table.out).find("NODE TYPE CLASS HARDWARE FIRMWARE COMMIT\n1 1 driver 1.3.0.0 2.4.17"),
              std::string::npos)
        << table.out;
    EXPECT_EQ(table.out.find("\x1b["), std::string::npos) << "no colour when not a terminal";
}

TEST(CliSim, DeviceErrorsNameTheNodeAndTheStatus) {
    const ProcessResult absent = kinetra({"info", "9", "--sim"});
    EXPECT_EQ(absent.exit_code, 1);
    EXPECT_EQ(absent.err, "kinetra: node 9: not on the bus, no heartbeat within 1200 ms (RET_NOT_CONNECTED)\n");
    const ProcessResult wrong_class = kinetra({"velocity", "3", "1", "--sim"});
    EXPECT_EQ(wrong_class.exit_code, 1);
    EXPECT_NE(wrong_class.err.find("node 3 is imu, not a driver or actuator"), std::string::npos);
}

TEST(CliSim, MonitorDecodesAndItsCandumpReadsBack) {
    const std::string trace = (fs::temp_directory_path() / ("kinetra-trace-" + std::to_string(::getpid()))).string();
    const ProcessResult result = kinetra({"monitor", "--sim", "--duration", "0.4", "--candump", trace});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(result.out.find("node 1 appeared (driver, type 1)"), std::string::npos) << result.out;
    EXPECT_NE(squeezed(result.out).find("node 4 encoder heartbeat"), std::string::npos) << result.out;
    std::ifstream file(trace);
    std::set<uint32_t> heard;
    std::string line;
    std::size_t lines = 0;
    while (std::getline(file, line)) {
        ++lines;
        const auto record = parseCandumpLine(line);
        ASSERT_TRUE(record.has_value()) << line;
        EXPECT_TRUE(record->extended);
        EXPECT_EQ(record->iface, "can0");
        heard.insert((record->id >> 7) & 0x3FFFF);
    }
    std::remove(trace.c_str());
    EXPECT_GE(lines, 4u);
    EXPECT_EQ(heard, (std::set<uint32_t>{1, 2, 3, 4}));
}

TEST(CliSlcan, WorksAgainstKinetraSimInAnotherProcess) {
    BackgroundProcess sim(KINETRA_SIM_PATH, {"--driver", "7", "--encoder", "8"});
    std::string port;
    ASSERT_TRUE(eventually([&] {
        const std::string out = sim.output();
        if (out.find("port: ") == std::string::npos || out.find('\n', out.find("port: ")) == std::string::npos) {
            return false;
        }
        port = after(out, "port: ", " \n");
        return !port.empty();
    }, std::chrono::milliseconds(5000)));
    const ProcessResult scan = kinetra({"scan", "--slcan", port, "--time", "0.3", "--json"});
    ASSERT_EQ(scan.exit_code, 0) << scan.err;
    const json doc = json::parse(scan.out);
    ASSERT_EQ(doc["nodes"].size(), 2u);
    EXPECT_EQ(doc["nodes"][0]["node"], 7);
    EXPECT_EQ(doc["nodes"][1]["class"], "encoder");
    const ProcessResult info = kinetra({"info", "7", "--slcan", port});
    EXPECT_EQ(info.exit_code, 0) << info.err;
    EXPECT_NE(info.out.find("class:            driver"), std::string::npos) << info.out;
    // The simulator's pty is no Kinetra adapter port for the description check;
    // the tool says so in one line, and --json adds the error document.
    const ProcessResult checked = kinetra({"info", "7", "--port", port, "--json"});
    EXPECT_EQ(checked.exit_code, 3);
    EXPECT_EQ(lineCount(checked.err), 1u) << checked.err;
    EXPECT_NE(checked.err.find("does not name a Kinetra adapter"), std::string::npos) << checked.err;
    EXPECT_EQ(json::parse(checked.out, nullptr, false)["exit_code"], 3) << checked.out;
    EXPECT_EQ(sim.interrupt(), 0);
}

TEST(CliTerminal, LiveViewRedrawsInPlaceAndCtrlCEndsIt_Slow) {
    if (std::system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
    const std::string socket = "kinetra-cli-test-" + std::to_string(::getpid());
    const std::string tmux = "tmux -L " + socket + " ";
    const std::string command = std::string(KINETRA_CLI_PATH) + " telemetry 1 --sim --rate 20; echo EXIT=$?; sleep 30";
    ASSERT_EQ(std::system((tmux + "new-session -d -x 100 -y 40 \"" + command + "\"").c_str()), 0);
    auto screen = [&] { return shellOutput(tmux + "capture-pane -p"); };
    // A few refreshes have happened once the clock in the title passes 0.5 s.
    const bool refreshed = eventually([&] {
        const std::string seconds = after(screen(), "t=", " ");
        return !seconds.empty() && std::strtod(seconds.c_str(), nullptr) >= 0.5;
    }, std::chrono::milliseconds(10000));
    const std::string view = screen();
    shellOutput(tmux + "send-keys C-c");
    const bool ended = eventually([&] { return screen().find("EXIT=0") != std::string::npos; },
                                  std::chrono::milliseconds(5000));
    const std::string after = screen();
    shellOutput(tmux + "kill-server 2>/dev/null");
    ASSERT_TRUE(refreshed) << view;
    std::size_t titles = 0;
    for (std::size_t at = view.find("node 1 driver"); at != std::string::npos; at = view.find("node 1 driver", at + 1)) {
        ++titles;
    }
    EXPECT_EQ(titles, 1u) << "redrawn in place:\n" << view;
    EXPECT_NE(view.find("bus voltage:     24.00 V"), std::string::npos) << view;
    EXPECT_TRUE(ended) << after;
}

}  // namespace
}  // namespace kinetra::test

#endif
