// kinetra sim and kinetra share in a build without the simulator (Windows): both
// serve pseudo-terminals through the simulator's adapter endpoints, which run on
// Linux. They stay listed, so that the help is the same everywhere, and say why
// they cannot run here.

#include "commands/command.h"

namespace kinetra::cli {

int runSimulator(std::vector<std::string> /*arguments*/) {
    Output::error(std::string("sim: ") + kSimulatorAbsent);
    return static_cast<int>(kExitUsage);
}

void addSimCommand(CLI::App& app, Registry& registry) {
    CLI::App* sub = app.add_subcommand("sim", "Run the simulator in the foreground (not in this build)");
    sub->prefix_command();
    registry.push_back({sub, [sub](Context&) { return runSimulator(sub->remaining()); }, false});
}

void addShareCommand(CLI::App& app, Registry& registry) {
    CLI::App* sub = app.add_subcommand("share", "Share the adapter through pseudo-terminals (not in this build)");
    sub->prefix_command();
    registry.push_back({sub,
                        [](Context&) {
                            Output::error(std::string("share: ") + kSimulatorAbsent);
                            return static_cast<int>(kExitUsage);
                        },
                        false});
}

}  // namespace kinetra::cli
