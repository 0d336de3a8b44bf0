// The tool's firmware update as a process: refused files named down to the line
// before any port opens, no update without a backup, and a stopped update's exit.

#include "support/cli_process.h"
#include "support/wait.h"

#include "kinetra_sim/hex_image.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#if defined(KINETRA_CLI_PATH) && defined(KINETRA_TEST_DATA_DIR)

namespace kinetra::test::cli_flash {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string dataFile(const std::string& name) { return std::string(KINETRA_TEST_DATA_DIR) + "/" + name; }

ProcessResult flashTool(const std::vector<std::string>& arguments) {
    // An empty port listing: a run that got past the file checks ends with 3.
    return runProcess(KINETRA_CLI_PATH, arguments, {{"KINETRA_SYSFS_ROOT", "/nonexistent-kinetra-sysfs"}}, 40000ms);
}

class ToolFlash : public ::testing::Test {
protected:
    ToolFlash() {
        dir_ = fs::temp_directory_path() / ("kinetra-cli-flash-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    ~ToolFlash() override { fs::remove_all(dir_); }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    std::string image(std::size_t size) const {
        std::ofstream(path("firmware.hex")) << kinetra::sim::intelHexText(
            0x08000000, kinetra::sim::firmwareImage(size, {2, 5, 0}));
        return path("firmware.hex");
    }
    fs::path dir_;
};

TEST_F(ToolFlash, RefusedFilesNameTheLineAndNothingOpens) {
    struct Case {
        const char* file;
        int exit_code;
        const char* names;
    };
    const Case cases[] = {
        {"planted_type06.hex", 4, "line 3: record type 06 is not one of 00 to 05"},
        {"planted_typeFF.hex", 4, "line 3: record type FF"},
        {"planted_linear_count.hex", 4, "line 1: malformed extended linear address record (type 04)"},
        {"overlap_different.hex", 4, "line 6: data at 0x08000010 overlaps an earlier record"},
        {"truncated_mid_line.hex", 4, "line 6: the file ends inside this record"},
        // Accepted: full 255-byte records with CR LF, and data up to the very end
        // of the erased sectors; these runs end where the port is chosen.
        {"srec_cat_255_crlf.hex", 3, ""},
        {"srec_cat_erased_end.hex", 3, ""},
        {"objcopy_linear_start.hex", 3, ""},
    };
    for (const Case& c : cases) {
        const ProcessResult result = flashTool({"flash", "1", dataFile(c.file)});
        EXPECT_EQ(result.exit_code, c.exit_code) << c.file << ": " << result.err;
        EXPECT_NE(result.err.find(c.names), std::string::npos) << c.file << ": " << result.err;
        EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << "one line: " << result.err;
        EXPECT_TRUE(result.out.empty()) << result.out;
    }
}

// Regression: the tool went on to flash with an empty backup when the export failed.
TEST_F(ToolFlash, NoUpdateWhenTheBackupFails) {
    // The driver never answers its gear-box read, which the export needs.
    BackgroundProcess sim(KINETRA_SIM_PATH, {"--driver", "1", "--fault", "drop 1 1 0x18"});
    std::string port;
    ASSERT_TRUE(eventually(
        [&] {
            const std::string out = sim.output();
            const std::size_t at = out.find("port: ");
            if (at == std::string::npos || out.find('\n', at) == std::string::npos) return false;
            port = out.substr(at + 6, out.find_first_of(" \n", at + 6) - at - 6);
            return !port.empty();
        },
        5000ms));
    const std::string backup = path("backup.json");
    const ProcessResult result = flashTool({"flash", "1", image(1024), "--backup", backup, "--slcan", port});
    EXPECT_EQ(result.exit_code, 1) << result.err;
    EXPECT_NE(result.err.find("configuration backup failed"), std::string::npos) << result.err;
    EXPECT_EQ(result.out.find("flashing"), std::string::npos) << result.out;
    EXPECT_FALSE(fs::exists(backup)) << "no empty backup is left behind";
    EXPECT_EQ(sim.interrupt(), 0);
}

// Regression: a stopped update ended with 1, as a device failure, instead of 130.
TEST_F(ToolFlash, StoppedUpdateEndsWith130_Slow) {
    // Standard input is no terminal, so the first Ctrl-C asks and a second one stops.
    const std::string command = "echo PID=$$; exec " + std::string(KINETRA_CLI_PATH) + " flash 2 " +
                                image(32768) + " --sim 2>&1";
    BackgroundProcess tool("/bin/sh", {"-c", command});
    pid_t pid = 0;
    ASSERT_TRUE(eventually(
        [&] {
            const std::string out = tool.output();
            const std::size_t at = out.find("PID=");
            if (at == std::string::npos || out.find('\n', at) == std::string::npos) return false;
            pid = static_cast<pid_t>(std::stol(out.substr(at + 4)));
            return true;
        },
        5000ms));
    // Under way: the update reported its entry into the bootloader.
    ASSERT_TRUE(eventually([&] { return tool.output().find("entering the bootloader") != std::string::npos; },
                           30000ms))
        << tool.output();
    ASSERT_EQ(::kill(pid, SIGINT), 0);
    ASSERT_TRUE(eventually([&] { return tool.output().find("Ctrl-C again to stop") != std::string::npos; }, 10000ms))
        << tool.output();
    EXPECT_EQ(tool.interrupt(), 130) << tool.output();
    const std::string out = tool.output();
    EXPECT_NE(out.find("update stopped; node 2 waits in its bootloader: recover with `kinetra flash 2 "),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("flashed in"), std::string::npos) << out;
}

}  // namespace
}  // namespace kinetra::test::cli_flash

#endif
