// kinetra scan: the nodes present, with their class and versions.

#include "commands/command.h"

#include "cli/device_access.h"

#include <chrono>
#include <cmath>

namespace kinetra::cli {

void addScanCommand(CLI::App& app, Registry& registry) {
    CLI::App* sub = app.add_subcommand("scan", "List the nodes present (listens to heartbeats) with versions");
    auto seconds = std::make_shared<double>(1.2);
    sub->add_option("--time", *seconds, "how long to listen, seconds (default 1.2)")
        ->check(CLI::Range(0.1, 60.0));
    sub->footer(
        "Device type codes (from the heartbeats): 1 driver, 2 actuator, 3 imu, 4 encoder;\n"
        "another code is shown bare with class 'unknown'.\n"
        "Example:\n  kinetra scan --sim\n  kinetra scan --json");
    registry.push_back({sub, [seconds](Context& context) {
                            BusSession session(context.bus, *context.stop);
                            session.open();
                            const auto listen = std::chrono::milliseconds(std::lround(*seconds * 1000));
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
                            if (out.json()) {
                                out.document({{"port", session.portName()}, {"nodes", list}});
                            } else if (table.rows.empty()) {
                                out.out() << "no nodes heard on " << session.portName() << "\n";
                            } else {
                                out.table(table);
                            }
                            return kExitOk;
                        }});
}

}  // namespace kinetra::cli
