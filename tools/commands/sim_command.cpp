// kinetra sim [...]: the simulator in the foreground, exactly as kinetra-sim.

#include "commands/command.h"

#include "kinetra_sim/sim_program.h"

namespace kinetra::cli {

int runSimulator(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    std::string program = "kinetra sim";
    argv.push_back(program.data());
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    return kinetra::sim::runSimulatorProgram(static_cast<int>(argv.size() - 1), argv.data());
}

void addSimCommand(CLI::App& app, Registry& registry) {
    // Listed in the tool's help; main() hands `kinetra sim ...` to the simulator
    // before the tool's own parser sees the simulator's options.
    CLI::App* sub = app.add_subcommand("sim", "Run the simulator in the foreground (the same as kinetra-sim)");
    sub->prefix_command();
    sub->footer(
        "Every argument after 'sim' goes to the simulator; 'kinetra sim --help' shows them.\n"
        "Example:\n  kinetra sim --driver 1 --imu 3 -v   # then: kinetra scan --slcan /dev/pts/N");
    registry.push_back({sub, [sub](Context&) { return runSimulator(sub->remaining()); }, false});
}

}  // namespace kinetra::cli
