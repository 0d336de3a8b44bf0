// kinetra: bring-up, monitoring and control of a Kinetra bus from a terminal.

#include "cli/exit_codes.h"
#include "cli/output.h"
#include "cli/stop_flag.h"
#include "commands/command.h"

#include <kinetra/can_frame.h>

#include <CLI/CLI.hpp>

#include <exception>
#include <memory>

namespace {

const char* const kFooter =
    "Choosing the bus: --port PATH (the Kinetra adapter), --slcan PATH (any SLCAN adapter\n"
    "or kinetra-sim in another process), --sim (an in-process simulator with a driver 1,\n"
    "an actuator 2, an IMU 3 and an encoder 4). Without one, KINETRA_PORT is used, else\n"
    "the one adapter present.\n"
    "\n"
    "Exit codes: 0 ok, 1 device error, 2 usage, 3 no adapter, 4 bad file, 130 interrupted.\n"
    "\n"
    "Example:\n"
    "  kinetra scan --sim\n"
    "  kinetra info 1 --json\n"
    "  kinetra telemetry 1 --port /dev/ttyACM0\n"
    "  kinetra flash 1 firmware.hex --verify";

}  // namespace

int main(int argc, char** argv) {
    using namespace kinetra::cli;
    CLI::App app("kinetra " + getLibraryVersion() + ": bring up, watch and drive Kinetra CAN devices", "kinetra");
    app.require_subcommand(1);
    app.fallthrough();
    app.footer(kFooter);

    Context context;
    bool json = false;
    auto* port = app.add_option("--port", context.bus.port, "the Kinetra adapter's serial port")->type_name("PATH");
    auto* slcan =
        app.add_option("--slcan", context.bus.slcan, "any SLCAN port, or kinetra-sim's pty")->type_name("PATH");
    auto* sim = app.add_flag("--sim", context.bus.sim, "use an in-process simulated bus");
    port->excludes(slcan)->excludes(sim);
    slcan->excludes(sim);
    app.add_flag("--json", json, "one JSON document on standard output (library messages go to standard error)");

    Registry registry;
    addPortsCommand(app, registry);
    addScanCommand(app, registry);
    addInfoCommand(app, registry);
    addMonitorCommand(app, registry);
    addTelemetryCommand(app, registry);
    addMotionCommands(app, registry);
    addFlashCommand(app, registry);
    addConfigCommand(app, registry);
    addCalibrateCommand(app, registry);
    addAdapterCommand(app, registry);
    addSimCommand(app, registry);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForAllHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& error) {
        // CLI11 reports a word that is no subcommand as a missing subcommand.
        for (int i = 1; i < argc; ++i) {
            const std::string word = argv[i];
            if (word.empty() || word[0] == '-') continue;
            const std::string before = argv[i - 1];
            if (before == "--port" || before == "--slcan") continue;
            try {
                app.get_subcommand_ptr(word);
            } catch (const CLI::OptionNotFound&) {
                Output::error("unknown subcommand '" + word + "'; kinetra --help lists them");
                return kExitUsage;
            }
            break;
        }
        Output::error(error.what());
        return kExitUsage;
    }

    const Subcommand* chosen = nullptr;
    for (const Subcommand& entry : registry) {
        if (entry.app->parsed()) chosen = &entry;  // the deepest parsed one is registered last
    }
    if (chosen == nullptr) {
        Output::error("a subcommand is required; see kinetra --help");
        return kExitUsage;
    }
    if (!chosen->uses_bus) return chosen->run(context);

    StopFlag stop;
    // Before any thread starts, so that every thread inherits the blocked signals.
    SignalWatcher signals(stop);
    Output out(json);
    context.out = &out;
    context.stop = &stop;
    try {
        const int code = chosen->run(context);
        return stop.requested() && code == kExitOk ? kExitOk : code;
    } catch (const CliError& error) {
        Output::error(error.what());
        return error.code();
    } catch (const std::exception& error) {
        Output::error(error.what());
        return kExitDevice;
    }
}
