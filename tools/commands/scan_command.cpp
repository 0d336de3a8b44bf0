// kinetra scan: the nodes present, with their class and versions; with
// --all-rates, at which bit rate each node is heard.

#include "commands/command.h"

#include "cli/device_access.h"
#include "devices/protocol/motor_controller_protocol.h"

#include <chrono>
#include <cmath>

namespace kinetra::cli {

namespace {

struct ScanOptions {
    double seconds = 1.2;
    bool all_rates = false;
};

/// How long --all-rates listens at each rate unless --time says: a few heartbeat periods.
constexpr double kSecondsPerRate = 0.5;

int scanAllRates(Context& context, BusSession& session, const ScanOptions& options, bool time_given) {
    const auto listen =
        std::chrono::milliseconds(std::lround((time_given ? options.seconds : kSecondsPerRate) * 1000));
    // The bus goes back to the rate it had, so that a scan leaves the adapter as it found it.
    CANBaudRate before = context.bus.rate();
    if (context.bus.slcan.empty() && session.adapter() != nullptr &&
        session.adapter()->getCANBaudRate(&before) != RET_INTERFACE_OK) {
        before = context.bus.rate();
    }
    nlohmann::json rates = nlohmann::json::array();
    std::vector<std::string> lines;
    for (int index = 0; index < kinetra::protocol::motor::kCanBitRateCount; ++index) {
        const auto rate = static_cast<CANBaudRate>(index);
        const auto heard = session.listenAt(rate, listen);
        if (context.stop->requested()) break;
        nlohmann::json nodes = nlohmann::json::array();
        std::string text;
        for (const auto& [node, type] : heard) {
            const std::string name = className(classOfType(type));
            nodes.push_back({{"node", node}, {"type", type}, {"class", name}});
            text += (text.empty() ? "" : ", ") + std::to_string(node) + " (" + name + ")";
        }
        rates.push_back({{"bit_rate", bitRateName(rate)}, {"nodes", nodes}});
        if (!heard.empty()) lines.push_back("at " + bitRateName(rate) + ": node" + (heard.size() == 1 ? " " : "s ") + text);
    }
    session.bus().setCANBaudRate(before);
    if (context.stop->requested()) return kExitInterrupted;
    Output& out = *context.out;
    if (out.json()) {
        out.document({{"port", session.portName()}, {"rates", rates}});
    } else if (lines.empty()) {
        out.out() << "no nodes heard on " << session.portName() << " at any bit rate\n";
    } else {
        for (const std::string& line : lines) out.out() << line << "\n";
    }
    return kExitOk;
}

}  // namespace

void addScanCommand(CLI::App& app, Registry& registry) {
    CLI::App* sub = app.add_subcommand("scan", "List the nodes present (listens to heartbeats) with versions");
    auto options = std::make_shared<ScanOptions>();
    auto* time = sub->add_option("--time", options->seconds,
                                 "how long to listen, seconds (default 1.2; with --all-rates 0.5 at each rate)")
                     ->check(finiteRange(0.1, 60.0));
    sub->add_flag("--all-rates", options->all_rates, "listen at each bit rate in turn and say where nodes are heard");
    sub->footer(
        "Device type codes (from the heartbeats): 1 driver, 2 actuator, 3 imu, 4 encoder;\n"
        "another code is shown bare with class 'unknown'.\n"
        "Example:\n  kinetra scan --sim\n  kinetra scan --json\n  kinetra scan --all-rates --slcan /dev/ttyACM0");
    registry.push_back({sub, [options, time](Context& context) {
                            BusSession session(context.bus, *context.stop);
                            session.open();
                            if (options->all_rates) return scanAllRates(context, session, *options, time->count() > 0);
                            const auto listen = std::chrono::milliseconds(std::lround(options->seconds * 1000));
                            const auto nodes = session.listen(listen);
                            if (context.stop->requested()) return static_cast<int>(kExitInterrupted);
                            nlohmann::json list = nlohmann::json::array();
                            Table table{{"NODE", "TYPE", "CLASS", "HARDWARE", "FIRMWARE", "COMMIT"}, {}};
                            for (const auto& [node, type] : nodes) {
                                const std::string name = className(classOfType(type));
                                nlohmann::json entry = {{"node", node}, {"type", type}, {"class", name}};
                                std::vector<std::string> row{std::to_string(node), std::to_string(type), name,
                                                             "-", "-", "-"};
                                try {
                                    const Identity identity = withProxy(
                                        session.bus(), node, type,
                                        [node = node](auto& proxy) { return readIdentity(proxy, node); });
                                    entry["hardware"] = identity.hardware;
                                    entry["firmware"] = identity.firmware;
                                    entry["commit"] = identity.commit;
                                    row[3] = identity.hardware;
                                    row[4] = identity.firmware;
                                    row[5] = identity.commit;
                                } catch (const CliError& error) {
                                    entry["error"] = error.what();
                                }
                                list.push_back(entry);
                                table.rows.push_back(row);
                            }
                            Output& out = *context.out;
                            const std::string rate = bitRateName(context.bus.rate());
                            if (out.json()) {
                                out.document({{"port", session.portName()}, {"bit_rate", rate}, {"nodes", list}});
                            } else if (table.rows.empty()) {
                                out.out() << "no nodes heard on " << session.portName() << " at " << rate
                                          << " (kinetra scan --all-rates tries every bit rate)\n";
                            } else {
                                out.table(table);
                            }
                            return static_cast<int>(kExitOk);
                        }});
}

}  // namespace kinetra::cli
