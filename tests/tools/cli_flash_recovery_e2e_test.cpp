// A stopped firmware update recovered as the tool says: the error names the
// command only for a device left in its bootloader, and that very command
// succeeds, straight away and after the node was rebooted. A stop asked for but
// not confirmed keeps the progress going and ends cleanly with the update.

#include "support/cli_process.h"
#include "support/wait.h"

#include "kinetra_sim/hex_image.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#if defined(KINETRA_CLI_PATH) && defined(KINETRA_SIM_PATH)

namespace kinetra::test::cli_recover {
namespace {

using namespace std::chrono_literals;

/// Generous: an update through the simulator program erases at a real part's pace.
constexpr auto kUpdateBound = 90000ms;
constexpr auto kPromptBound = 10000ms;

class FlashRecovery : public ::testing::Test {
protected:
    FlashRecovery()
        : link_("/tmp/kinetra-recover-" + std::to_string(::getpid())),
          image_("/tmp/kinetra-recover-" + std::to_string(::getpid()) + ".hex"),
          sim_(KINETRA_SIM_PATH, {"--driver", "1", "--link", link_}, true) {
        // Long enough that a stop after the erase lands among the writes.
        std::ofstream(image_) << kinetra::sim::intelHexText(0x08000000,
                                                             kinetra::sim::firmwareImage(131072, {2, 5, 0}));
    }
    ~FlashRecovery() override { std::remove(image_.c_str()); }

    void SetUp() override {
        ASSERT_TRUE(eventually([&] { return sim_.output().find("Ctrl-C ends") != std::string::npos; }, 5000ms));
    }

    std::vector<std::string> onBus(std::vector<std::string> arguments) const {
        arguments.insert(arguments.end(), {"--slcan", link_});
        return arguments;
    }

    /// Runs a flash, stops it (two Ctrl-C) once the erase is done, and returns
    /// the command its error names for the recovery.
    std::vector<std::string> stopMidWrite(const std::vector<std::string>& arguments) {
        BackgroundProcess tool(KINETRA_CLI_PATH, onBus(arguments), true);
        EXPECT_TRUE(eventually([&] { return tool.output().find("sectors  done") != std::string::npos; },
                               kUpdateBound))
            << tool.output() << tool.errors();
        tool.signal(SIGINT);
        EXPECT_TRUE(eventually([&] { return tool.output().find("Ctrl-C again") != std::string::npos; },
                               kPromptBound))
            << tool.output();
        tool.signal(SIGINT);
        EXPECT_EQ(tool.wait(kUpdateBound), 130) << tool.output() << tool.errors();
        const std::string error = tool.errors();
        EXPECT_NE(error.find("node 1: update stopped; node 1 waits in its bootloader: recover with `"),
                  std::string::npos)
            << error;
        const std::size_t from = error.find('`'), to = error.rfind('`');
        std::vector<std::string> words;
        if (from == std::string::npos || to <= from) return words;
        std::istringstream command(error.substr(from + 1, to - from - 1));
        for (std::string word; command >> word;) words.push_back(word);
        return words;
    }

    std::string link_;
    std::string image_;
    BackgroundProcess sim_;
};

TEST_F(FlashRecovery, TheNamedCommandRecoversAfterAStopAndAfterAReboot_Slow) {
    const std::vector<std::string> recover = {"kinetra", "flash", "1", image_, "--in-dfu"};
    ASSERT_EQ(stopMidWrite({"flash", "1", image_, "--no-backup"}), recover);

    // Straight away, with a Ctrl-C in the middle that is never confirmed.
    BackgroundProcess retry(KINETRA_CLI_PATH, onBus({"flash", "1", image_, "--in-dfu"}), true);
    ASSERT_TRUE(eventually([&] { return retry.output().find("5/10 sectors") != std::string::npos; }, kUpdateBound))
        << retry.output();
    retry.signal(SIGINT);
    EXPECT_EQ(retry.wait(kUpdateBound), 0) << retry.output() << retry.errors();
    const std::string out = retry.output();
    const std::size_t asked = out.find("Stop the update?");
    const std::size_t wrote = out.find("writing", asked == std::string::npos ? 0 : asked);
    const std::size_t closed = out.find("ended before an answer; nothing stopped");
    const std::size_t done = out.find("node 1: flashed in");
    ASSERT_NE(asked, std::string::npos) << out;
    EXPECT_TRUE(asked < wrote && wrote < closed && closed < done) << "progress goes on beneath the question:\n" << out;
    EXPECT_NE(out.find("now firmware 2.5.0"), std::string::npos) << out;

    // After a reboot of the node, which starts its bootloader afresh.
    EXPECT_EQ(stopMidWrite({"flash", "1", image_, "--no-backup"}), recover);
    sim_.send("reboot 1\n");
    std::vector<std::string> named(recover.begin() + 1, recover.end());
    const ProcessResult after_reboot = runProcess(KINETRA_CLI_PATH, onBus(named), {}, kUpdateBound);
    EXPECT_EQ(after_reboot.exit_code, 0) << after_reboot.out << after_reboot.err;
    EXPECT_NE(after_reboot.out.find("now firmware 2.5.0"), std::string::npos) << after_reboot.out;
}

}  // namespace
}  // namespace kinetra::test::cli_recover

#endif
