// The adapter pulled out under a running view: the tool ends it with exit 3 and
// one line saying so, or with --reconnect waits for the port to come back and
// carries on. The adapter is kinetra-sim's, unplugged and plugged in again from
// its console, its port a link that survives both as a by-id link does.

#include "support/cli_process.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#if defined(KINETRA_CLI_PATH) && defined(KINETRA_SIM_PATH)

namespace kinetra::test::cli_lost {
namespace {

using namespace std::chrono_literals;

/// Generous: the tool itself ends within a second of the loss.
constexpr auto kEndBound = 10000ms;
constexpr auto kShowBound = 8000ms;

/// kinetra-sim with a driver 1 behind a link, driven through its console.
class LinkedSim {
public:
    explicit LinkedSim(const char* tag)
        : link_("/tmp/kinetra-lost-" + std::to_string(::getpid()) + "-" + tag),
          process_(KINETRA_SIM_PATH, {"--driver", "1", "--link", link_}, true) {
        ready_ = eventually([&] { return process_.output().find("Ctrl-C ends") != std::string::npos; }, kShowBound);
    }
    bool ready() const { return ready_; }
    const std::string& link() const { return link_; }
    void console(const std::string& command) { process_.send(command + "\n"); }
    int interrupt() { return process_.interrupt(); }

private:
    std::string link_;
    BackgroundProcess process_;
    bool ready_ = false;
};

/// The tool in the background on the simulator's link.
std::vector<std::string> on(const LinkedSim& sim, std::vector<std::string> arguments) {
    arguments.insert(arguments.end(), {"--slcan", sim.link()});
    return arguments;
}

bool shows(const BackgroundProcess& tool, const std::string& text, std::size_t from = 0) {
    const std::string out = tool.output();
    return out.size() > from && out.find(text, from) != std::string::npos;
}

struct View {
    std::vector<std::string> arguments;
    std::string running;  ///< what it prints once it works on the bus
};

const View kViews[] = {
    {{"monitor"}, "node 1 appeared"},
    {{"telemetry", "1", "--rate", "10"}, "node 1 driver"},
};

TEST(CliAdapterLost, ViewsEndWithExit3AndOneLine) {
    for (const View& view : kViews) {
        SCOPED_TRACE(view.arguments[0]);
        LinkedSim sim("end");
        ASSERT_TRUE(sim.ready());
        BackgroundProcess tool(KINETRA_CLI_PATH, on(sim, view.arguments), true);
        ASSERT_TRUE(eventually([&] { return shows(tool, view.running); }, kShowBound)) << tool.errors();
        sim.console("unplug");
        EXPECT_EQ(tool.wait(kEndBound), 3) << tool.output();
        EXPECT_EQ(tool.errors(),
                  "kinetra: adapter lost: " + sim.link() + " went away (--reconnect waits for it to come back)\n");
        EXPECT_EQ(sim.interrupt(), 0);
    }
}

TEST(CliAdapterLost, ReconnectCarriesOnAfterReplug) {
    for (const View& view : kViews) {
        SCOPED_TRACE(view.arguments[0]);
        LinkedSim sim("again");
        ASSERT_TRUE(sim.ready());
        std::vector<std::string> arguments = on(sim, view.arguments);
        arguments.push_back("--reconnect");
        BackgroundProcess tool(KINETRA_CLI_PATH, arguments, true);
        ASSERT_TRUE(eventually([&] { return shows(tool, view.running); }, kShowBound)) << tool.errors();
        sim.console("unplug");
        ASSERT_TRUE(eventually(
            [&] { return tool.errors().find("waiting for it to come back") != std::string::npos; }, kShowBound))
            << tool.errors();
        // Still there when plugged in again: a view that had ended could not say it is back.
        sim.console("replug");
        ASSERT_TRUE(eventually(
            [&] { return tool.errors().find("adapter back on " + sim.link()) != std::string::npos; }, kShowBound))
            << tool.errors();
        const std::size_t before = tool.output().size();
        EXPECT_TRUE(eventually([&] { return shows(tool, view.running, before); }, kShowBound)) << tool.output();
        EXPECT_EQ(tool.interrupt(), 0) << tool.errors();
        EXPECT_EQ(tool.errors(), "kinetra: adapter lost: " + sim.link() +
                                     " went away; waiting for it to come back (Ctrl-C ends)\nkinetra: adapter back on " +
                                     sim.link() + "; carrying on\n");
        EXPECT_EQ(sim.interrupt(), 0);
    }
}

}  // namespace
}  // namespace kinetra::test::cli_lost

#endif
