// The tool's SocketCAN choices, as a user meets them on a machine with or without
// CAN interfaces: the listing from sysfs, and the one-line refusals.

#include "support/cli_process.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace kinetra::test {
namespace {

namespace fs = std::filesystem;

#ifdef KINETRA_CLI_PATH
ProcessResult runKinetra(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& env) {
    return runProcess(KINETRA_CLI_PATH, arguments, env);
}

TEST(SocketCANTool, PortsListsTheCanInterfacesOfSysfs) {
    const fs::path root = fs::temp_directory_path() / ("kinetra-cli-sysfs-" + std::to_string(::getpid()));
    for (const auto& [name, type] : {std::pair{"vcan0", "280"}, {"can1", "280"}, {"eth0", "1"}, {"lo", "772"}}) {
        fs::create_directories(root / "class" / "net" / name);
        std::ofstream(root / "class" / "net" / name / "type") << type << "\n";
    }
    const ProcessResult result = runKinetra({"ports", "--json"}, {{"KINETRA_SYSFS_ROOT", root.string()}});
    fs::remove_all(root);
    ASSERT_EQ(result.exit_code, 0) << result.err;
    const auto document = nlohmann::json::parse(result.out);
    EXPECT_EQ(document["can_interfaces"], nlohmann::json({"can1", "vcan0"}));
}

TEST(SocketCANTool, RefusesWhatIsNoCanInterfaceInOneLine) {
    struct Case {
        std::vector<std::string> arguments;
        int exit_code;
        const char* says;
    };
    const Case cases[] = {
        {{"scan", "--socketcan", "kin-nosuch0"}, 3, "no network interface named"},
        {{"scan", "--socketcan", "lo"}, 3, "not a CAN interface"},
        {{"scan", "--socketcan", "lo", "--sim"}, 2, "--socketcan"},
        {{"scan", "--socketcan", "lo", "--slcan", "/dev/null"}, 2, "--socketcan"},
    };
    for (const Case& c : cases) {
        const ProcessResult result = runKinetra(c.arguments, {});
        EXPECT_EQ(result.exit_code, c.exit_code) << c.arguments[2] << result.err;
        EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
    }
}
#endif

}  // namespace
}  // namespace kinetra::test
