// kinetra-sim: a simulated Kinetra bus behind a virtual SLCAN adapter on a
// pseudo-terminal, for applications in other processes (open the printed port
// with SlcanInterface). Faults are injected with --fault or typed on stdin.
// The program lives in the library so that `kinetra sim` runs the same one.

#include "kinetra_sim/sim_program.h"

#include "kinetra_sim/console.h"
#include "kinetra_sim/simulator.h"

#include "can/bus.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using kinetra::sim::NodeKind;
using kinetra::sim::NodeSetup;

// What the options say of one bus; --bus starts the next.
struct BusOptions {
    std::vector<std::pair<NodeKind, uint32_t>> nodes;
    CANBaudRate bit_rate = CAN_BAUD_500K;
    std::chrono::milliseconds heartbeat{100};
    kinetra::sim::TimingSetup timing;
};

struct Options {
    std::vector<kinetra::sim::BusSetup> buses;
    std::vector<std::string> faults;
    int verbosity = 0;
    std::string link;
    bool generic = false;
    std::size_t hosts = 1;
    std::string socketcan;
};

const char* const kUsage =
    "usage: kinetra-sim [--driver ID]... [--actuator ID]... [--imu ID]... [--encoder ID]...\n"
    "                   [--bitrate CODE] [--heartbeat-ms MS] [--fault COMMAND]... [-v|-vv]\n"
    "                   [--realistic [--latency-us US] [--serial-baud BAUD]]\n"
    "                   [--link PATH] [--generic] [--hosts N] [--socketcan IFACE]\n"
    "                   [--bus [--driver ID]... [--bitrate CODE] [--realistic ...]]...\n"
    "\n"
    "Simulates a Kinetra bus behind a virtual Zarvo adapter and prints the port to\n"
    "open (with SlcanInterface from another process). Without nodes: a driver 1,\n"
    "an actuator 2, an IMU 3 and an encoder 4. CODE is the CANBaudRate value 0-8\n"
    "(6 = 500 kbit/s, the default; 8 = 1 Mbit/s) of the adapter and the nodes. -v logs the traffic except\n"
    "heartbeats, -vv with them. --fault runs a console command at start, e.g.\n"
    "--fault 'drop 1 0.5'. Type commands on stdin while it runs ('help' lists\n"
    "them); Ctrl-C ends. --realistic gives frames the time they take on a real\n"
    "bus (bit times, arbitration) and adapter (US microseconds each way, default\n"
    "1000; serial line at BAUD, default unlimited); 'status' shows the bus load.\n"
    "--link PATH names the port through a symbolic link that survives 'unplug'\n"
    "and 'replug', as a udev by-id link does. --generic acts as a generic SLCAN\n"
    "adapter: channel closed until the host opens it, remote frames only in the\n"
    "short form. --hosts N (1-16) offers N ports on the same bus, one adapter\n"
    "each, for N programs at once (an application and a monitor): a frame one\n"
    "sends reaches the nodes and every other; with --link the others' links\n"
    "are PATH-2, PATH-3, ... --socketcan IFACE also puts the nodes on a Linux\n"
    "CAN interface (vcan0, can0), whatever their bit rate, for SocketCANInterface,\n"
    "candump and cansend. --bus starts another bus with an adapter and port of\n"
    "its own: the node, --bitrate, --heartbeat-ms, --realistic, --latency-us and\n"
    "--serial-baud options after it are that bus's (node ids may repeat across\n"
    "buses; the console commands act on the first bus).\n";

unsigned long parseNumber(const std::string& text, unsigned long highest) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || value > highest || text[0] == '-') {
        throw std::invalid_argument("bad number: " + text);
    }
    return value;
}

Options parseArguments(int argc, char** argv) {
    Options options;
    auto value = [&](int& i) -> std::string {
        if (i + 1 >= argc) throw std::invalid_argument(std::string(argv[i]) + " needs a value");
        return argv[++i];
    };
    const std::pair<const char*, NodeKind> kinds[] = {{"--driver", NodeKind::Driver},
                                                      {"--actuator", NodeKind::Actuator},
                                                      {"--imu", NodeKind::Imu},
                                                      {"--encoder", NodeKind::Encoder}};
    std::vector<BusOptions> buses(1);
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        BusOptions& bus = buses.back();
        bool matched = false;
        for (const auto& kind : kinds) {
            if (arg == kind.first) {
                bus.nodes.emplace_back(kind.second, static_cast<uint32_t>(parseNumber(value(i), 0x3FFFF)));
                matched = true;
            }
        }
        if (matched) continue;
        if (arg == "--bus") {
            if (buses.size() == kinetra::sim::Simulator::kMaxBuses) {
                throw std::invalid_argument("at most " + std::to_string(buses.size()) + " buses");
            }
            buses.emplace_back();
        } else if (arg == "--bitrate") {
            bus.bit_rate = static_cast<CANBaudRate>(parseNumber(value(i), CAN_BAUD_1M));
        } else if (arg == "--heartbeat-ms") {
            bus.heartbeat = std::chrono::milliseconds(std::max(1ul, parseNumber(value(i), 60000)));
        } else if (arg == "--realistic") {
            bus.timing.enabled = true;
        } else if (arg == "--latency-us") {
            bus.timing.adapter_latency = std::chrono::microseconds(parseNumber(value(i), 1000000));
        } else if (arg == "--serial-baud") {
            bus.timing.serial_baud = static_cast<uint32_t>(parseNumber(value(i), 100000000));
        } else if (arg == "--generic") {
            options.generic = true;
        } else if (arg == "--hosts") {
            options.hosts = parseNumber(value(i), kinetra::sim::SimulatorOptions::kMaxHosts);
            if (options.hosts == 0) throw std::invalid_argument("--hosts needs at least 1");
        } else if (arg == "--socketcan") {
            options.socketcan = value(i);
        } else if (arg == "--link") {
            options.link = value(i);
        } else if (arg == "--fault") {
            options.faults.push_back(value(i));
        } else if (arg == "-v") {
            options.verbosity = std::max(options.verbosity, 1);
        } else if (arg == "-vv") {
            options.verbosity = 2;
        } else if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            std::exit(0);
        } else {
            throw std::invalid_argument("unknown argument: " + arg);
        }
    }
    if (buses.size() == 1 && buses.front().nodes.empty()) {
        buses.front().nodes = {
            {NodeKind::Driver, 1}, {NodeKind::Actuator, 2}, {NodeKind::Imu, 3}, {NodeKind::Encoder, 4}};
    }
    for (const BusOptions& bus : buses) {
        kinetra::sim::BusSetup setup;
        for (const auto& node : bus.nodes) {
            setup.nodes.push_back(NodeSetup{node.first, node.second, bus.bit_rate, bus.heartbeat});
        }
        setup.adapter.bit_rate = bus.bit_rate;
        setup.adapter.generic = options.generic;
        setup.timing = bus.timing;
        options.buses.push_back(std::move(setup));
    }
    return options;
}

/// Prints the traffic; runs on the simulator's threads.
class TrafficPrinter {
public:
    TrafficPrinter(int verbosity, bool several_hosts)
        : verbosity_(verbosity), several_hosts_(several_hosts), start_(std::chrono::steady_clock::now()) {}

    void operator()(const kinetra::sim::TrafficEvent& event) {
        if (verbosity_ < 2 && event.frame != nullptr &&
            (event.frame->can_id & 0x7F) == kinetra::protocol::kHeartbeat) {
            return;
        }
        std::string shown;
        if (event.line.empty()) shown = "(ok)";
        for (char c : event.line) {
            if (c == '\a') {
                shown += "(bell)";
            } else if (c >= 0x20 && c < 0x7F) {
                shown += c;
            } else {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
                shown += hex;
            }
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        // With several hosts each line says whose adapter it crossed (from 1).
        char host[16] = "";
        if (several_hosts_) std::snprintf(host, sizeof host, "%zu:", event.host + 1);
        std::lock_guard<std::mutex> lock(mutex_);
        std::printf("%10.4f %s%s %s\n", seconds, host,
                    event.direction == kinetra::sim::Direction::FromHost ? "host>" : " sim>", shown.c_str());
        std::fflush(stdout);
    }

private:
    const int verbosity_;
    const bool several_hosts_;
    const std::chrono::steady_clock::time_point start_;
    std::mutex mutex_;
};

/// One console line; prints the result or the complaint.
void runLine(kinetra::sim::Simulator& sim, const std::string& line) {
    try {
        const std::string result = kinetra::sim::runConsoleCommand(sim, line);
        if (!result.empty()) std::cout << result << (result.back() == '\n' ? "" : "\n") << std::flush;
    } catch (const std::invalid_argument& error) {
        std::cout << error.what() << "\n" << std::flush;
    }
}

}  // namespace

int kinetra::sim::runSimulatorProgram(int argc, char** argv) {
    Options options;
    try {
        options = parseArguments(argc, argv);
    } catch (const std::invalid_argument& error) {
        std::cerr << "kinetra-sim: " << error.what() << "\n" << kUsage;
        return 2;
    }

    // Blocked before any thread starts, so that every thread inherits the mask and
    // the signals arrive only through the descriptor below.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    const int signal_fd = signalfd(-1, &stop_signals, SFD_CLOEXEC);
    if (signal_fd < 0) {
        std::perror("kinetra-sim: signalfd");
        return 1;
    }

    try {
        kinetra::sim::SimulatorOptions sim_options;
        sim_options.link_path = options.link;
        sim_options.hosts = options.hosts;
        sim_options.socketcan = options.socketcan;
        if (options.verbosity > 0) {
            auto printer =
                std::make_shared<TrafficPrinter>(options.verbosity, options.hosts > 1 || options.buses.size() > 1);
            sim_options.observer = [printer](const kinetra::sim::TrafficEvent& event) { (*printer)(event); };
        }
        kinetra::sim::Simulator sim(options.buses, std::move(sim_options));
        sim.start();

        // One bus and host: "port: P". Else a line per port, numbered from 1 in
        // the order of the traffic log's host numbers.
        const bool one_port = sim.hosts() == 1 && sim.buses() == 1;
        for (std::size_t bus = 0; bus < sim.buses(); ++bus) {
            if (sim.buses() > 1) std::cout << "bus " << bus + 1 << ":\n";
            kinetra::sim::SimulatorBus& on_bus = sim.onBus(bus);
            for (std::size_t host = 0; host < on_bus.hosts(); ++host) {
                if (one_port) {
                    std::cout << "port: " << on_bus.portName() << "\n";
                } else {
                    std::cout << "port " << bus * on_bus.hosts() + host + 1 << ": " << on_bus.host(host).portName()
                              << "\n";
                }
            }
            if (bus == 0 && sim.socketcan() != nullptr) {
                std::cout << "socketcan: " << sim.socketcan()->interfaceName() << "\n";
            }
            for (const auto& node : on_bus.bus().nodes()) {
                std::cout << "node " << node->nodeId() << ": " << kinetra::sim::nodeKindName(node->kind()) << "\n";
            }
        }
        std::cout << (one_port ? "Open the port with SlcanInterface"
                                       : "Open each port with SlcanInterface, one program per port")
                  << "; type 'help' for fault commands; Ctrl-C ends.\n"
                  << std::flush;
        for (const std::string& fault : options.faults) runLine(sim, fault);

        bool stdin_open = true;
        std::string pending;
        for (;;) {
            pollfd fds[2] = {{signal_fd, POLLIN, 0}, {stdin_open ? STDIN_FILENO : -1, POLLIN, 0}};
            // Woken by a signal or a console line; the bound only re-arms the wait.
            if (::poll(fds, 2, 1000) <= 0) continue;
            if (fds[0].revents & POLLIN) break;
            if (fds[1].revents & (POLLIN | POLLHUP)) {
                char buffer[512];
                const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
                if (got <= 0) {
                    stdin_open = false;  // keep simulating until a signal
                    continue;
                }
                pending.append(buffer, static_cast<std::size_t>(got));
                for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
                    runLine(sim, pending.substr(0, end));
                    pending.erase(0, end + 1);
                }
            }
        }
        std::cout << "kinetra-sim: stopping\n";
        sim.stop();
    } catch (const std::exception& error) {
        std::cerr << "kinetra-sim: " << error.what() << "\n";
        return 1;
    }
    ::close(signal_fd);
    return 0;
}
