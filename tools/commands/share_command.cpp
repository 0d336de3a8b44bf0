// kinetra share: one adapter, several programs. Each gets a pseudo-terminal
// that is a generic SLCAN adapter on the same bus, until Ctrl-C.

#include "commands/command.h"

#include "cli/device_text.h"
#include "cli/shared_bus.h"

#include <memory>
#include <system_error>

namespace kinetra::cli {

namespace {
struct ShareOptions {
    std::size_t hosts = 3;
    std::string link;
};
/// How long the share sleeps between looks at a lost adapter; every stop or loss wakes it.
constexpr std::chrono::hours kIdle{1};
}  // namespace

void addShareCommand(CLI::App& app, Registry& registry) {
    CLI::App* sub =
        app.add_subcommand("share", "Share the adapter: several programs on one bus, each through a port of its own");
    auto options = std::make_shared<ShareOptions>();
    sub->add_option("--hosts", options->hosts, "how many ports to offer, 1 to 16 (default 3)")
        ->check(CLI::Range(std::size_t{1}, std::size_t{16}));
    sub->add_option("--link", options->link,
                    "also name the first port PATH and the others PATH-2, PATH-3, ... (stable names)")
        ->type_name("PATH");
    sub->footer(
        "Each port is a generic SLCAN adapter: open it with --slcan, SlcanInterface or any SLCAN tool.\n"
        "Frames from one port go onto the bus and to the other ports, as on a bus.\n"
        "One port at a time may move the bus to another bit rate; the others are refused\n"
        "(a bell, and a line here) until it returns to the share's rate or closes its port.\n"
        "Example:\n  kinetra share --hosts 3\n  kinetra monitor --candump - --slcan /dev/pts/7");
    registry.push_back({sub, [options](Context& context) {
                            Output& out = *context.out;
                            BusSession session(context.bus, *context.stop);
                            session.open();
                            const CANBaudRate rate = context.bus.rate();
                            SharedBus shared(session.bus(), rate,
                                             [](const std::string& line) { Output::error(line); });
                            try {
                                shared.open(options->hosts, options->link);
                            } catch (const std::system_error& error) {
                                throw CliError(kExitDevice, std::string("cannot offer the ports: ") + error.what());
                            }
                            session.onFrame([&shared](const can_frame_data& frame) { shared.fromAdapter(frame); });
                            // However the run ends, the adapter's frames stop reaching the ports before they go.
                            struct Unhook {
                                BusSession& session;
                                ~Unhook() { session.onFrame({}); }
                            } unhook{session};
                            const std::vector<std::string> ports = shared.portNames();
                            if (out.json()) {
                                out.jsonLine({{"adapter", session.portName()},
                                              {"bit_rate", bitRateName(rate)},
                                              {"ports", ports}});
                            } else {
                                for (std::size_t i = 0; i < ports.size(); ++i) {
                                    out.out() << "port " << i + 1 << ": " << ports[i] << "\n";
                                }
                                out.out() << "sharing " << session.portName() << " at " << bitRateName(rate)
                                          << " (open a port with --slcan; Ctrl-C ends)\n";
                            }
                            out.out().flush();
                            while (!context.stop->waitFor(kIdle)) session.checkAdapter();
                            return kExitOk;
                        }});
}

}  // namespace kinetra::cli
