// kinetra dashboard: a live web dashboard served by the tool itself, to watch,
// drive, configure and flash the devices of a bus from a browser.

#include "commands/command.h"

#include "dashboard/bus_worker.h"
#include "dashboard/dashboard_server.h"

#include <chrono>
#include <iostream>

namespace kinetra::cli {

namespace {

struct DashboardOptions {
    std::string listen = std::string(dashboard::kDefaultListenHost) + ":0";
    double rate = dashboard::kDefaultSampleRate;
    bool stop_on_disconnect = false;
    double seconds = 0;
};

/// How long one wait for the end lasts when no --seconds was given.
constexpr std::chrono::hours kWaitSlice{1};

}  // namespace

void addDashboardCommand(CLI::App& app, Registry& registry) {
    CLI::App* sub = app.add_subcommand("dashboard", "Serve a live web dashboard of the bus (Ctrl-C ends)");
    auto options = std::make_shared<DashboardOptions>();
    sub->add_option("--listen", options->listen,
                    "HOST:PORT to listen on (default 127.0.0.1 and a free port); any address but loopback "
                    "requires the token the start line prints")
        ->type_name("HOST:PORT");
    sub->add_option("--rate", options->rate, "telemetry rounds per second, 1 to 200 (default 100)")
        ->check(finiteRange(dashboard::kMinSampleRate, dashboard::kMaxSampleRate));
    sub->add_flag("--stop-on-disconnect", options->stop_on_disconnect,
                  "idle every driver and actuator when the last page closes (default: leave them as they are)");
    sub->add_option("--seconds", options->seconds, "end after this many seconds (default: at Ctrl-C)")
        ->check(finiteRange(0.1, 1e7));
    sub->footer(
        "Open the printed URL in a browser. Listening on another address than loopback makes the\n"
        "motors reachable from the network: every request must then carry the printed token.\n"
        "Example:\n  kinetra dashboard --sim\n  kinetra dashboard --listen 0.0.0.0:8080 --port /dev/ttyACM0");
    registry.push_back({sub, [options](Context& context) {
                            const auto address = dashboard::parseListenAddress(options->listen);
                            if (!address) {
                                throw CliError(kExitUsage, "--listen: expected HOST:PORT with an IP address, got '" +
                                                               options->listen + "'");
                            }
                            // A dashboard outlives an unplugged adapter: its pages show it lost and back.
                            context.bus.reconnect = true;
                            BusSession session(context.bus, *context.stop);
                            session.open();
                            dashboard::BusWorker worker(session, *context.stop,
                                                        {options->rate, options->stop_on_disconnect});
                            std::unique_ptr<dashboard::DashboardServer> server;
                            try {
                                server = std::make_unique<dashboard::DashboardServer>(*address, worker);
                            } catch (const std::exception& error) {
                                throw CliError(kExitUsage, error.what());
                            }
                            worker.start([&server](std::string message) { server->broadcast(std::move(message)); });
                            Output& out = *context.out;
                            if (out.json()) {
                                out.jsonLine({{"url", server->policy().url()}, {"port", session.portName()}});
                            } else {
                                out.out() << "kinetra dashboard on " << session.portName() << ": open "
                                          << server->policy().url() << std::endl;
                            }
                            const auto end = std::chrono::steady_clock::now() +
                                             std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                 std::chrono::duration<double>(options->seconds));
                            while (!context.stop->requested()) {
                                const auto left = options->seconds > 0
                                                      ? end - std::chrono::steady_clock::now()
                                                      : std::chrono::steady_clock::duration(kWaitSlice);
                                if (left <= std::chrono::steady_clock::duration::zero()) break;
                                context.stop->waitUntil(left, [] { return false; });
                            }
                            worker.stop();
                            server.reset();
                            return static_cast<int>(kExitOk);
                        }});
}

}  // namespace kinetra::cli
