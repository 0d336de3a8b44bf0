// kinetra ports: the serial ports present, the adapter marked, and the CAN
// network interfaces (for --socketcan).

#include "commands/command.h"

#include "cli/can_interfaces.h"
#include "cli/port_list.h"

namespace kinetra::cli {

void addPortsCommand(CLI::App& app, Registry& registry) {
    CLI::App* sub = app.add_subcommand("ports", "List serial ports with description and hardware id (* marks the adapter) and CAN interfaces");
    sub->footer("Example:\n  kinetra ports\n  kinetra ports --json");
    registry.push_back({sub, [](Context& context) {
                            // With --sim the simulated adapter is started, so it is listed.
                            BusSession session(context.bus, *context.stop);
                            Output& out = *context.out;
                            nlohmann::json ports = nlohmann::json::array();
                            Table table{{"", "PORT", "DESCRIPTION", "HARDWARE ID"}, {}};
                            for (const serial::PortInfo& port : listPorts()) {
                                const bool adapter = isAdapter(port);
                                ports.push_back({{"port", port.port},
                                                 {"description", port.description},
                                                 {"hardware_id", port.hardware_id},
                                                 {"adapter", adapter}});
                                table.rows.push_back({adapter ? "*" : "", port.port, port.description,
                                                      port.hardware_id});
                            }
                            nlohmann::json can_interfaces = nlohmann::json::array();
                            for (const std::string& name : listCanInterfaces()) {
                                can_interfaces.push_back(name);
                                table.rows.push_back({"", name, "CAN network interface (--socketcan)", ""});
                            }
                            if (out.json()) {
                                out.document({{"ports", ports}, {"can_interfaces", can_interfaces}});
                            } else if (table.rows.empty()) {
                                out.out() << "no serial ports or CAN interfaces found\n";
                            } else {
                                out.table(table);
                            }
                            return kExitOk;
                        }});
}

}  // namespace kinetra::cli
