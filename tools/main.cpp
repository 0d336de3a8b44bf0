// kinetra: bring-up, monitoring and control of a Kinetra bus from a terminal.

#include "cli/device_text.h"
#include "cli/error_text.h"
#include "cli/exit_codes.h"
#include "cli/output.h"
#include "cli/stop_flag.h"
#include "commands/command.h"

#include <kinetra/can_frame.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

const char* const kFooter =
    "Choosing the bus: --port PATH (the Kinetra adapter), --slcan PATH (any SLCAN adapter\n"
    "or kinetra-sim in another process), --sim (an in-process simulator with a driver 1,\n"
    "an actuator 2, an IMU 3 and an encoder 4). Without one, KINETRA_PORT is used, else\n"
    "the one adapter present. --bitrate RATE sets the CAN bit rate (default 500k).\n"
    "A lost adapter ends a run with 3; --reconnect waits for its port to come back\n"
    "(a stable name: a /dev/serial/by-id link, kinetra-sim's --link).\n"
    "\n"
    "Exit codes: 0 ok, 1 device error, 2 usage, 3 no adapter, 4 bad file, 130 interrupted;\n"
    "config diff ends 1 when the two differ. With --json a failure also prints\n"
    "{\"error\": MESSAGE, \"exit_code\": N} on standard output.\n"
    "\n"
    "Example:\n"
    "  kinetra scan --sim\n"
    "  kinetra info 1 --json\n"
    "  kinetra telemetry 1 --port /dev/ttyACM0\n"
    "  kinetra flash 1 firmware.hex --verify";

/// Whether a word is a negative non-finite number ("-inf", "-nan"), which the
/// parser would take for an option.
bool negativeNonFinite(const char* word) {
    if (word[0] != '-' || word[1] == '-') return false;
    char* end = nullptr;
    const double value = std::strtod(word, &end);
    return end != word && *end == '\0' && !std::isfinite(value);
}

/// The arguments with the negative non-finite numbers moved behind "--", where
/// the parser gives them to the positional they belong to, whose check then
/// refuses them by name.
std::vector<std::string> withValuesLast(int argc, char** argv) {
    std::vector<std::string> words, values;
    for (int i = 1; i < argc; ++i) (negativeNonFinite(argv[i]) ? values : words).push_back(argv[i]);
    if (!values.empty()) {
        words.push_back("--");
        words.insert(words.end(), values.begin(), values.end());
    }
    return words;
}

bool wantsJson(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) return true;
    }
    return false;
}

/// Reports a failure before the output was set up: one line on standard error
/// and, for --json, the error document on standard output.
int fail(bool json, kinetra::cli::ExitCode code, const std::string& message) {
    kinetra::cli::Output::error(message);
    if (json) std::cout << kinetra::cli::errorDocument(code, message).dump(2) << std::endl;
    return code;
}

/// Reports a failure of a run.
int fail(kinetra::cli::Output& out, kinetra::cli::ExitCode code, const std::string& message) {
    kinetra::cli::Output::error(message);
    if (out.json()) out.document(kinetra::cli::errorDocument(code, message));
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kinetra::cli;
    // `kinetra sim ARGS` is kinetra-sim: its options, --help included, are its own.
    if (argc >= 2 && std::strcmp(argv[1], "sim") == 0) return runSimulator(std::vector<std::string>(argv + 2, argv + argc));
    CLI::App app("kinetra " + getLibraryVersion() + ": bring up, watch and drive Kinetra CAN devices", "kinetra");
    app.require_subcommand(1);
    app.fallthrough();
    app.footer(kFooter);

    Context context;
    bool json = false;
    app.set_version_flag("--version", "kinetra " + getLibraryVersion(), "print the version and exit");
    addBusOptions(&app, context, json);

    Registry registry;
    addPortsCommand(app, registry);
    addScanCommand(app, registry);
    addInfoCommand(app, registry);
    addMonitorCommand(app, registry);
    addShareCommand(app, registry);
    addTelemetryCommand(app, registry);
    addMotionCommands(app, registry);
    addFlashCommand(app, registry);
    addConfigCommand(app, registry);
    addCalibrateCommand(app, registry);
#ifdef KINETRA_TOOL_DASHBOARD
    addDashboardCommand(app, registry);
#endif
    addAdapterCommand(app, registry);
    addSimCommand(app, registry);
    // Each subcommand's help lists the options it takes, the bus options too.
    for (const Subcommand& entry : registry) {
        if (entry.uses_bus) addBusOptions(entry.app, context, json);
    }

    try {
        std::vector<std::string> words = withValuesLast(argc, argv);
        std::reverse(words.begin(), words.end());  // CLI11 takes them last first
        app.parse(words);
    } catch (const CLI::CallForVersion& version) {
        return app.exit(version);
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
            if (before == "--port" || before == "--slcan" || before == "--socketcan" || before == "--bitrate") continue;
            try {
                app.get_subcommand_ptr(word);
            } catch (const CLI::OptionNotFound&) {
                return fail(wantsJson(argc, argv), kExitUsage, "unknown subcommand '" + word + "'; kinetra --help lists them");
            }
            break;
        }
        return fail(wantsJson(argc, argv), kExitUsage, error.what());
    }
    const int bus_choices = static_cast<int>(!context.bus.port.empty()) + static_cast<int>(!context.bus.slcan.empty()) +
                            static_cast<int>(context.bus.sim) + static_cast<int>(!context.bus.socketcan.empty());
    if (bus_choices > 1) {
        return fail(json, kExitUsage, "--port, --slcan, --socketcan and --sim choose the bus: give one of them");
    }

    const Subcommand* chosen = nullptr;
    for (const Subcommand& entry : registry) {
        if (entry.app->parsed()) chosen = &entry;  // the deepest parsed one is registered last
    }
    if (chosen == nullptr) return fail(json, kExitUsage, "a subcommand is required; see kinetra --help");
    if (!chosen->uses_bus) return chosen->run(context);

    StopFlag stop;
    // Before any thread starts, so that every thread inherits the blocked signals.
    SignalWatcher signals(stop);
    Output out(json);
    context.out = &out;
    context.stop = &stop;
    // Whatever a run ends with after its adapter went away (a read refused, a
    // node gone), the lost adapter is what the user needs to hear, with its exit.
    const auto adapterLost = [&](ExitCode code) { return stop.lost() && code != kExitInterrupted; };
    try {
        const int code = chosen->run(context);
        if (adapterLost(code)) return fail(out, kExitNoAdapter, stop.lostLine());
        return stop.requested() && code == kExitOk ? kExitOk : code;
    } catch (const CliError& error) {
        // A failure that already speaks of the adapter keeps its own words.
        if (adapterLost(error.code()) && error.code() != kExitNoAdapter) {
            return fail(out, kExitNoAdapter, stop.lostLine());
        }
        return fail(out, error.code(), error.what());
    } catch (const std::exception& error) {
        if (adapterLost(kExitDevice)) return fail(out, kExitNoAdapter, stop.lostLine());
        return fail(out, kExitDevice, causeOf(error));
    }
}
