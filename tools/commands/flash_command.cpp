// kinetra flash NODE FILE: a firmware update through the device's bootloader,
// with a progress bar, a configuration backup first, and Ctrl-C that asks.

#include "commands/command.h"

#include "cli/cancel_on_stop.h"
#include "cli/device_access.h"
#include "cli/input_files.h"
#include "cli/progress_display.h"
#include "cli/progress_text.h"

#if KINETRA_TOOL_SIM
#include "kinetra_sim/motor_controller_node.h"
#include "kinetra_sim/simulator.h"
#endif

#include <unistd.h>

#include <chrono>
#include <ctime>
#include <iostream>

namespace kinetra::cli {

namespace {

using Clock = std::chrono::steady_clock;

/// How long a device takes to be heard again after the start of its new firmware.
constexpr std::chrono::milliseconds kRestartWait{3000};

struct FlashArguments {
    unsigned node = 0;
    std::string file;
    bool in_dfu = false;
    bool verify = false;
    std::string backup;
    bool no_backup = false;
};

std::string timestampedBackupName(unsigned node) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return "kinetra-node" + std::to_string(node) + "-backup-" + stamp + ".json";
}

std::string firmwareOf(Interface& bus, unsigned node, DeviceClass device_class) {
    unsigned char major = 0, minor = 0;
    unsigned short patch = 0;
    ret_status_t status = RET_NOT_INITIALISED;
    if (device_class == DeviceClass::Actuator) {
        Actuator actuator(node, &bus);
        status = actuator.getFirmwareVersion(&major, &minor, &patch);
    } else {
        Driver driver(node, &bus);
        status = driver.getFirmwareVersion(&major, &minor, &patch);
    }
    if (status != RET_OK) return {};
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

/// Draws the update's progress; plain output gets a line at the half and the end of a stage.
class FlashProgressView {
public:
    explicit FlashProgressView(ProgressDisplay& display) : display_(display) {}

    void operator()(const FlashProgress& progress) {
        const auto now = Clock::now();
        if (!started_ || progress.stage != stage_) {
            started_ = true;
            stage_ = progress.stage;
            stage_start_ = now;
            half_ = 0;
        }
        const int half =
            progress.total == 0 ? 2 : static_cast<int>(std::min(progress.done, progress.total) * 2 / progress.total);
        const bool milestone = half > half_;
        half_ = half;
        display_.show(flashProgressLine(progress, std::chrono::duration<double>(now - stage_start_).count()),
                      milestone);
        if (progress.done >= progress.total) display_.keep();
        if (progress.stage != FlashStage::Entering || progress.done >= progress.total) entered_ = true;
    }

    /// Whether the device reported that it runs its bootloader.
    bool entered() const { return entered_; }
    /// The last stage reported.
    FlashStage stage() const { return stage_; }

private:
    ProgressDisplay& display_;
    bool started_ = false;
    FlashStage stage_ = FlashStage::Entering;
    Clock::time_point stage_start_{};
    int half_ = 0;
    bool entered_ = false;
};

/// What a failed or stopped update leaves the device running, and what to do.
/// The library's result says when the device is known to wait in its
/// bootloader; otherwise its heartbeat tells (a bootloader sends none).
std::string whatRemains(BusSession& session, StopFlag& stop, const FlashArguments& args,
                        const FlashProgressView& view, const FlashResult& result) {
    const std::string node = std::to_string(args.node);
    const std::string recover = "kinetra flash " + node + " " + args.file + " --in-dfu";
    if (result.in_bootloader) return "; node " + node + " waits in its bootloader: recover with `" + recover + "`";
    const bool entered = args.in_dfu || view.entered();
    if (stop.lost() && entered) {
        return "; node " + node + " may wait in its bootloader: if it does, recover with `" + recover + "`";
    }
    if (stop.lost()) return "; node " + node + " still runs its firmware";
    // A stop has been honoured already; the short listen below is no part of the update.
    stop.clear();
    const auto wait = entered ? kRestartWait : kPresenceWait;
    if (stop.waitUntil(wait, [&] { return session.bus().isDeviceConnected(args.node) || stop.lost(); }) &&
        !stop.lost()) {
        return "; node " + node + " runs its firmware (heard again): nothing to recover";
    }
    return "; node " + node + " sends no heartbeat: if it waits in its bootloader, recover with `" + recover + "`";
}

int runFlash(Context& context, const FlashArguments& args) {
    // Everything the tool can check is checked before the port opens.
    const FirmwareFile firmware = checkFirmwareFile(args.file, "FILE");
    if (!args.backup.empty()) checkWritablePath(args.backup, "--backup");

    BusSession session(context.bus, *context.stop);
    session.open();
    Output& out = *context.out;
    const unsigned node = args.node;
    // A device in its bootloader sends no heartbeats, so its class is unknown;
    // drivers and actuators run the same update.
    DeviceClass device_class = DeviceClass::Driver;
    if (!args.in_dfu) {
        device_class = classOfType(session.waitForNode(node));
        if (device_class != DeviceClass::Driver && device_class != DeviceClass::Actuator) {
            throw CliError(kExitDevice, "node " + std::to_string(node) + " is " + className(device_class) +
                                            ", not a driver or actuator");
        }
    }
    std::ostream& log = out.json() ? std::cerr : out.out();
    const std::string before = args.in_dfu ? std::string() : firmwareOf(session.bus(), node, device_class);
    if (!out.json() && !args.in_dfu) {
        log << "node " << node << " " << className(device_class) << ": firmware "
            << (before.empty() ? "unknown" : before) << "\n";
    }

    // The backup: only a driver that answers has a configuration to export.
    std::string backup;
    if (device_class == DeviceClass::Driver && !args.in_dfu && !args.no_backup) {
        backup = args.backup.empty() ? timestampedBackupName(node) : args.backup;
        checkWritablePath(backup, "--backup");
        Driver driver(node, &session.bus());
        const std::string text = driver.exportConfiguration();
        if (text.empty()) {
            throw CliError(kExitDevice, "node " + std::to_string(node) +
                                            ": configuration backup failed (a read got no reply); nothing "
                                            "flashed (--no-backup flashes without one)");
        }
        writeTextFile(backup, text + "\n", "--backup");
        log << "backup: configuration saved to " << backup << " (" << text.size() + 1 << " bytes)\n";
    } else if (!out.json()) {
        log << "backup: none ("
            << (args.in_dfu      ? "a device in its bootloader has no configuration export"
                : args.no_backup ? "--no-backup"
                                 : "an actuator has no configuration export")
            << ")\n";
    }

#if KINETRA_TOOL_SIM
    if (auto* sim = session.simulator()) {
        // The simulated part erases at a tenth of a real one's time.
        kinetra::sim::BootTiming timing;
        timing.erase_time_scale = 0.1;
        try {
            sim->nodeAs<kinetra::sim::MotorControllerNode>(node).setBootTiming(timing);
        } catch (const std::out_of_range&) {
            // Not a simulated motor controller (only possible with --in-dfu): nothing answers.
        }
    }
#endif

    log << "flashing " << args.file << ": " << firmware.bytes << " bytes in " << firmware.blocks
        << (firmware.blocks == 1 ? " block" : " blocks") << (args.verify ? ", with read-back verify" : "") << "\n"
        << std::flush;
    StopFlag& stop = *context.stop;
    // A Ctrl-C before the update begins needs no question: nothing is flashed yet.
    if (stop.requested()) throw CliError(kExitInterrupted, "interrupted before the update began; nothing flashed");
    ProgressDisplay display(log, out.json() ? ::isatty(STDERR_FILENO) == 1 : out.terminal());
    FlashProgressView view(display);
    // The question is a line of its own; the progress goes on beneath it.
    CancelOnStop cancel(stop, [&stop, &display](const std::function<bool()>& finished) {
        display.remind("  (stop? see above)");
        const bool yes = confirmStopOnTerminal(
            stop, "Stop the update? A device stopped mid-write waits in its bootloader until flashed with --in-dfu.",
            finished, [&display](const std::string& line) { display.message(line); });
        display.remind("");
        return yes;
    });
    FlashOptions options;
    options.progress = [&view](const FlashProgress& progress) { view(progress); };
    options.cancel = cancel.flag();
    options.verify = args.verify;
    FlashResult result;
    options.result = &result;
    const std::string& failure = result.text;
    const auto start = Clock::now();
    ret_status_t status = RET_OK;
    if (device_class == DeviceClass::Actuator) {
        Actuator actuator(node, &session.bus());
        status = actuator.flash(args.file, args.in_dfu, options);
    } else {
        Driver driver(node, &session.bus());
        status = driver.flash(args.file, args.in_dfu, options);
    }
    // A question still open ends before the result is shown.
    cancel.finish();
    display.keep();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    // The library refuses a file before it sends anything (one that changed
    // since it was checked above): the device is as it was.
    if (status == RET_INVALID_ARGUMENT) {
        throw CliError(kExitBadFile, "FILE " + args.file + ": " + failure + "; nothing flashed");
    }
    if (status != RET_OK && stop.lost()) {
        throw CliError(kExitNoAdapter, stop.lostLine() + "; the update of node " + std::to_string(node) +
                                           " did not finish" + whatRemains(session, stop, args, view, result));
    }
    // A stop confirmed only after the start of the new firmware stopped nothing.
    if (status != RET_OK && cancel.cancelled()) {
        throw CliError(kExitInterrupted,
                       "node " + std::to_string(node) + ": update stopped" + whatRemains(session, stop, args, view, result));
    }
    if (status != RET_OK) {
        throw CliError(kExitDevice, deviceFailure(node, "flash", status) + (failure.empty() ? "" : ": " + failure) +
                                        whatRemains(session, stop, args, view, result));
    }

    // The new firmware announces itself with its heartbeat.
    stop.waitUntil(kRestartWait, [&] { return session.bus().isDeviceConnected(node); });
    const std::string after =
        session.bus().isDeviceConnected(node) ? firmwareOf(session.bus(), node, device_class) : std::string();
    if (out.json()) {
        out.document({{"node", node},
                      {"class", args.in_dfu ? "unknown" : className(device_class)},
                      {"file", args.file},
                      {"bytes", firmware.bytes},
                      {"verified", args.verify},
                      {"backup", backup.empty() ? nlohmann::json() : nlohmann::json(backup)},
                      {"firmware_before", before.empty() ? nlohmann::json() : nlohmann::json(before)},
                      {"firmware_after", after.empty() ? nlohmann::json() : nlohmann::json(after)},
                      {"seconds", seconds}});
    } else if (after.empty()) {
        out.out() << "node " << node << ": flashed in " << fixed(seconds, 1) << " s, not heard back within "
                  << kRestartWait.count() << " ms\n";
    } else {
        out.out() << "node " << node << ": flashed in " << fixed(seconds, 1) << " s, now firmware " << after
                  << (before.empty() ? "" : " (was " + before + ")") << "\n";
    }
    return kExitOk;
}

}  // namespace

void addFlashCommand(CLI::App& app, Registry& registry) {
    CLI::App* sub = app.add_subcommand("flash", "Update a driver's or actuator's firmware from an Intel HEX file");
    auto args = std::make_shared<FlashArguments>();
    addNodeArgument(sub, args->node);
    sub->add_option("FILE", args->file, "the firmware image, an Intel HEX file")->required();
    sub->add_flag("--in-dfu", args->in_dfu, "the device runs its bootloader already (after a failed update)");
    sub->add_flag("--verify", args->verify, "read every written block back and compare it");
    auto* backup = sub->add_option("--backup", args->backup,
                                   "where a driver's configuration is saved first (default: a time-stamped file "
                                   "kinetra-nodeN-backup-YYYYMMDD-HHMMSS.json here)")
                       ->type_name("FILE");
    sub->add_flag("--no-backup", args->no_backup, "flash a driver without saving its configuration first")
        ->excludes(backup);
    sub->footer(
        "A driver's configuration is exported first; if that fails nothing is flashed.\n"
        "An actuator, or a node given with --in-dfu, has no export, so no backup is taken.\n"
        "Drivers and actuators run the same bootloader, so --in-dfu needs no class.\n"
        "The first Ctrl-C asks before stopping: a stopped update leaves the device in its bootloader;\n"
        "the error then names the command that recovers it (flash again with --in-dfu).\n"
        "Example:\n  kinetra flash 1 firmware.hex --verify --backup node1.json\n"
        "  kinetra flash 2 firmware.hex --in-dfu");
    registry.push_back({sub, [args](Context& context) { return runFlash(context, *args); }});
}

}  // namespace kinetra::cli
