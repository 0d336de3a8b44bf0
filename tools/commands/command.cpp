#include "commands/command.h"

#include "cli/device_text.h"

#include <cmath>
#include <sstream>

namespace kinetra::cli {

CLI::Option* addNodeArgument(CLI::App* app, unsigned& node) {
    return app->add_option("NODE", node, "node id, 1 to 262143")->required()->check(CLI::Range(1u, 0x3FFFFu));
}

CLI::Validator finiteNumber() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            try {
                std::size_t used = 0;
                const double value = std::stod(text, &used);
                if (used == text.size() && std::isfinite(value)) return {};
            } catch (const std::exception&) {
            }
            return "expected a finite number, got '" + text + "'";
        },
        "NUMBER");
}

CLI::Validator finiteRange(double low, double high) {
    std::ostringstream range;
    range << "[" << low << " - " << high << "]";
    return CLI::Validator(
        [low, high, shown = range.str()](std::string& text) -> std::string {
            try {
                std::size_t used = 0;
                const double value = std::stod(text, &used);
                if (used == text.size() && std::isfinite(value) && value >= low && value <= high) return {};
            } catch (const std::exception&) {
            }
            return "expected a number in " + shown + ", got '" + text + "'";
        },
        "NUMBER in " + range.str());
}

void addBusOptions(CLI::App* app, Context& context, bool& json) {
    BusChoice& bus = context.bus;
    auto* port = app->add_option("--port", bus.port, "the Kinetra adapter's serial port")->type_name("PATH");
    auto* slcan = app->add_option("--slcan", bus.slcan, "any SLCAN port, or kinetra-sim's pty")->type_name("PATH");
    auto* sim = app->add_flag("--sim", bus.sim, "use an in-process simulated bus");
    auto* socketcan =
        app->add_option("--socketcan", bus.socketcan, "a Linux CAN network interface (can0, vcan0)")->type_name("IFACE");
    port->excludes(slcan)->excludes(sim)->excludes(socketcan);
    slcan->excludes(sim)->excludes(socketcan);
    sim->excludes(socketcan);
    app->add_option("--bitrate", bus.bit_rate, "the CAN bit rate: " + bitRateNames() + " (default 500k)")
        ->type_name("RATE")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                return parseBitRate(text) ? std::string() : "expected one of " + bitRateNames() + ", got '" + text + "'";
            },
            "RATE"));
    app->add_flag("--reconnect", bus.reconnect,
                  "when the adapter is lost, wait for its port to come back and carry on (default: end with 3)");
    app->add_flag("--json", json, "one JSON document on standard output (library messages go to standard error)");
}

}  // namespace kinetra::cli
