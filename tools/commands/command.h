#pragma once
// What every subcommand gets: the parsed global options, the output, the stop
// flag; and how it registers itself with the command line.

#include "cli/bus_session.h"
#include "cli/exit_codes.h"
#include "cli/output.h"
#include "cli/stop_flag.h"

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

namespace kinetra::cli {

struct Context {
    BusChoice bus;
    Output* out = nullptr;
    StopFlag* stop = nullptr;
    /// The arguments after `kinetra sim`, for the simulator program.
    std::vector<std::string> passthrough;
};

/// A parsed subcommand runs this; it returns the exit code or throws CliError.
using Runner = std::function<int(Context&)>;

struct Subcommand {
    CLI::App* app;
    Runner run;
    /// Whether it uses a bus (the signal watcher and the stop flag are set up then).
    bool uses_bus = true;
};

using Registry = std::vector<Subcommand>;

/// Adds the positional NODE argument, checked to 1 .. 2^18 - 1.
CLI::Option* addNodeArgument(CLI::App* app, unsigned& node);
/// A check that a number is finite (not NaN, not infinite).
CLI::Validator finiteNumber();
/// A check that a number is finite and within [low, high]. CLI::Range alone lets
/// NaN through, as every comparison with it is false.
CLI::Validator finiteRange(double low, double high);
/// Adds the bus options (--port, --slcan, --sim, --bitrate, --reconnect) and --json to `app`,
/// bound to `context` and `json`: on the tool and on every subcommand that uses
/// a bus, so that each one's help lists them.
void addBusOptions(CLI::App* app, Context& context, bool& json);

void addPortsCommand(CLI::App& app, Registry& registry);
void addScanCommand(CLI::App& app, Registry& registry);
void addInfoCommand(CLI::App& app, Registry& registry);
void addMonitorCommand(CLI::App& app, Registry& registry);
void addShareCommand(CLI::App& app, Registry& registry);
void addTelemetryCommand(CLI::App& app, Registry& registry);
void addMotionCommands(CLI::App& app, Registry& registry);
void addAdapterCommand(CLI::App& app, Registry& registry);
void addSimCommand(CLI::App& app, Registry& registry);
/// Runs the simulator program with `arguments` (those after `kinetra sim`); returns its exit code.
int runSimulator(std::vector<std::string> arguments);
void addFlashCommand(CLI::App& app, Registry& registry);
void addConfigCommand(CLI::App& app, Registry& registry);
void addCalibrateCommand(CLI::App& app, Registry& registry);
#ifdef KINETRA_TOOL_DASHBOARD
void addDashboardCommand(CLI::App& app, Registry& registry);
#endif

}  // namespace kinetra::cli
