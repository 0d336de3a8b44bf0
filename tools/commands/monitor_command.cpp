// kinetra monitor: every frame on the bus, decoded where the library knows the
// command, and the nodes appearing and disappearing, until Ctrl-C.

#include "commands/command.h"

#include "cli/device_text.h"
#include "cli/exit_codes.h"
#include "cli/frame_text.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <fstream>
#include <mutex>

namespace kinetra::cli {

namespace {

struct Event {
    std::chrono::system_clock::time_point wall;
    std::chrono::steady_clock::time_point when;
    bool is_frame = true;
    can_frame_data frame{};
    unsigned node = 0;
    unsigned type = 0;
    bool present = false;
};

/// Frames and presence events from the library's threads, handed to the main thread.
class EventQueue {
public:
    explicit EventQueue(StopFlag& stop) : stop_(stop) {}
    void push(Event event) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            // A terminal slower than the bus must not grow the queue without bound.
            if (events_.size() >= kLimit) {
                ++dropped_;
            } else {
                events_.push_back(event);
            }
        }
        stop_.notify();
    }
    bool empty() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_.empty();
    }
    std::deque<Event> take(unsigned long* dropped) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::deque<Event> taken;
        taken.swap(events_);
        *dropped = dropped_;
        dropped_ = 0;
        return taken;
    }

private:
    static constexpr std::size_t kLimit = 100000;
    StopFlag& stop_;
    mutable std::mutex mutex_;
    std::deque<Event> events_;
    unsigned long dropped_ = 0;
};

struct MonitorOptions {
    std::string candump;
    double duration = 0;
    std::string iface;  ///< empty: the --socketcan interface, else can0
};

}  // namespace

void addMonitorCommand(CLI::App& app, Registry& registry) {
    CLI::App* sub = app.add_subcommand("monitor", "Show every frame on the bus, decoded, and nodes coming and going");
    auto options = std::make_shared<MonitorOptions>();
    sub->add_option("--candump", options->candump,
                    "also write the frames in the can-utils log format to FILE ('-': standard output only)")
        ->type_name("FILE");
    sub->add_option("--iface", options->iface, "interface name in the candump log (default: the --socketcan interface, else can0)");
    sub->add_option("--duration", options->duration, "stop after this many seconds (default: at Ctrl-C)")
        ->check(finiteRange(0.001, 86400.0));
    sub->footer(
        "With --json every event is one JSON object on its own line.\n"
        "Example:\n  kinetra monitor --sim\n  kinetra monitor --candump trace.log   # replay with canplayer -I trace.log");
    registry.push_back({sub, [options](Context& context) {
                            Output& out = *context.out;
                            std::ofstream file;
                            const bool candump_only = options->candump == "-";
                            if (options->iface.empty()) {
                                options->iface = context.bus.socketcan.empty() ? "can0" : context.bus.socketcan;
                            }
                            if (!options->candump.empty() && !candump_only) {
                                file.open(options->candump, std::ios::out | std::ios::trunc);
                                if (!file) {
                                    throw CliError(kExitBadFile,
                                                   "--candump " + options->candump + ": cannot write the file");
                                }
                            }
                            // Declared first: the library's threads may push until the session closes.
                            EventQueue queue(*context.stop);
                            BusSession session(context.bus, *context.stop);
                            session.onPresence([&queue](unsigned node, unsigned type, bool present) {
                                Event event;
                                event.wall = std::chrono::system_clock::now();
                                event.when = std::chrono::steady_clock::now();
                                event.is_frame = false;
                                event.node = node;
                                event.type = type;
                                event.present = present;
                                queue.push(event);
                            });
                            session.open();
                            session.onFrame([&queue](const can_frame_data& frame) {
                                Event event;
                                event.wall = std::chrono::system_clock::now();
                                event.when = std::chrono::steady_clock::now();
                                event.frame = frame;
                                queue.push(event);
                            });
                            if (!out.json() && !candump_only) {
                                out.out() << "monitoring " << session.portName() << " (Ctrl-C ends)\n" << std::flush;
                            }
                            const auto start = std::chrono::steady_clock::now();
                            const auto end = start + std::chrono::milliseconds(std::lround(options->duration * 1000));
                            for (;;) {
                                const auto now = std::chrono::steady_clock::now();
                                if (options->duration > 0 && now >= end) break;
                                const auto wait = options->duration > 0 ? end - now
                                                                        : std::chrono::steady_clock::duration(
                                                                              std::chrono::seconds(1));
                                context.stop->waitUntil(wait,
                                                        [&] { return !queue.empty() || context.stop->lost(); });
                                unsigned long dropped = 0;
                                for (const Event& event : queue.take(&dropped)) {
                                    const double t = std::chrono::duration<double>(event.when - start).count();
                                    const double unix_seconds =
                                        std::chrono::duration<double>(event.wall.time_since_epoch()).count();
                                    if (event.is_frame && !options->candump.empty()) {
                                        const std::string line =
                                            candumpLine(event.frame, unix_seconds, options->iface);
                                        (candump_only ? out.out() : static_cast<std::ostream&>(file)) << line << "\n";
                                    }
                                    if (candump_only) continue;
                                    if (out.json()) {
                                        nlohmann::json json;
                                        if (event.is_frame) {
                                            json = monitorJson(decodeFrame(event.frame));
                                            json["event"] = "frame";
                                        } else {
                                            json = {{"event", event.present ? "appeared" : "lost"},
                                                    {"node", event.node},
                                                    {"type", event.type},
                                                    {"class", className(classOfType(event.type))}};
                                        }
                                        json["time"] = t;
                                        out.jsonLine(json);
                                        continue;
                                    }
                                    char stamp[32];
                                    std::snprintf(stamp, sizeof stamp, "%9.3f  ", t);
                                    if (event.is_frame) {
                                        out.out() << stamp << monitorLine(decodeFrame(event.frame)) << "\n";
                                    } else {
                                        out.out() << stamp << "node " << event.node << " "
                                                  << (event.present ? "appeared" : "lost") << " ("
                                                  << className(classOfType(event.type)) << ", type " << event.type
                                                  << ")\n";
                                    }
                                }
                                if (dropped > 0 && !out.json()) out.out() << dropped << " frames dropped\n";
                                out.out().flush();
                                file.flush();
                                if (context.stop->requested()) break;
                                // The frames before the loss are shown first; then the run ends, or waits.
                                if (context.stop->lost() && queue.empty()) session.checkAdapter();
                            }
                            session.onFrame({});
                            session.onPresence({});
                            return kExitOk;
                        }});
}

}  // namespace kinetra::cli
