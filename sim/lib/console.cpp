#include "kinetra_sim/console.h"

#include "kinetra_sim/encoder_node.h"
#include "kinetra_sim/motor_controller_node.h"
#include "kinetra_sim/simulator.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace kinetra::sim {
namespace {

std::vector<std::string> words(std::string_view line) {
    std::vector<std::string> out;
    std::istringstream in{std::string(line)};
    for (std::string word; in >> word;) out.push_back(word);
    return out;
}

unsigned long number(const std::string& text, const char* what, unsigned long highest) {
    errno = 0;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || errno != 0 || value > highest || text[0] == '-') {
        throw std::invalid_argument(std::string("bad ") + what + ": " + text);
    }
    return value;
}

double fraction(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value >= 0.0 && value <= 1.0)) {
        throw std::invalid_argument("bad fraction (0 to 1): " + text);
    }
    return value;
}

void expectArgs(const std::vector<std::string>& args, std::size_t least, std::size_t most, const char* usage) {
    if (args.size() < least + 1 || args.size() > most + 1) throw std::invalid_argument(std::string("usage: ") + usage);
}

Node& nodeArg(Simulator& sim, const std::string& text) {
    try {
        return sim.node(static_cast<uint32_t>(number(text, "node id", 0x3FFFF)));
    } catch (const std::out_of_range&) {
        throw std::invalid_argument("no node " + text);
    }
}

uint8_t commandArg(const std::string& text) { return static_cast<uint8_t>(number(text, "command id", 0x7F)); }

/// Applies `change` to the faults of one command, or to the default ones.
template <typename Change>
void changeFaults(Node& node, const std::vector<std::string>& args, std::size_t command_at, Change change) {
    ReplyFaults faults;
    change(faults);
    if (args.size() > command_at) {
        node.setReplyFaults(commandArg(args[command_at]), faults);
    } else {
        node.setReplyFaults(faults);
    }
}

std::string status(Simulator& sim) {
    std::ostringstream out;
    const AdapterProtocol& adapter = sim.adapter();
    out << "adapter: " << (sim.plugged() ? "plugged" : "unplugged") << ", host "
        << (sim.hostConnected() ? "connected" : "not connected") << ", channel "
        << (adapter.channelOpen() ? "open" : "closed") << (adapter.inDfuMode() ? " (firmware update mode)" : "")
        << ", bit rate code " << int(adapter.bitRate()) << ", lines in " << adapter.linesFromHost()
        << ", frames out " << adapter.framesToHost() << "\n";
    if (sim.bus().timed()) {
        out << "bus: load " << sim.bus().busLoad() << " % over the last second, " << sim.bus().framesQueued()
            << " frames queued\n";
    }
    for (const auto& node : sim.bus().nodes()) {
        out << "node " << node->nodeId() << " " << nodeKindName(node->kind()) << ": "
            << (node->online() ? "online" : "rebooting") << ", heartbeats "
            << (node->heartbeatsEnabled() ? "on" : "off") << ", bit rate code " << int(node->bitRate())
            << ", heard " << node->framesHeard() << ", replied " << node->repliesSent() << ", dropped "
            << node->repliesDropped() << "\n";
    }
    return out.str();
}

}  // namespace

std::string consoleHelp() {
    return "status                          adapter and nodes\n"
           "heartbeats <node> on|off        stop or resume a node's heartbeats\n"
           "period <node> <ms>              heartbeat period\n"
           "drop <node> <fraction> [<cmd>]  drop replies (0 to 1), of one command or all\n"
           "delay <node> <ms> [<cmd>]       delay replies\n"
           "wrongid <node> <as> [<cmd>]     answer with command id <as>\n"
           "clear <node>                    well-behaved replies again\n"
           "reboot <node> [<ms>]            silent for a while, back with the saved configuration\n"
           "rate <node> <code 0-8>          a node's CAN bit rate\n"
           "shaft <node> <deg/s>            turn an encoder's shaft at this rate\n"
           "bootfault <node> <step> <fault> one-shot bootloader fault: step synchronise|speed|erase|\n"
           "                                write|read|go, fault refuse|refuse-final|silent|drop-ack|\n"
           "                                corrupt|reboot|none\n"
           "garbage [<lines>]               send rubbish lines to the host\n"
           "unplug                          pull the adapter out (the port closes)\n"
           "replug                          plug the adapter back in (a new port behind --link)\n";
}

std::string runConsoleCommand(Simulator& sim, std::string_view line) {
    const std::vector<std::string> args = words(line);
    if (args.empty()) return "";
    const std::string& verb = args[0];

    if (verb == "help") return consoleHelp();
    if (verb == "status") return status(sim);
    if (verb == "heartbeats") {
        expectArgs(args, 2, 2, "heartbeats <node> on|off");
        if (args[2] != "on" && args[2] != "off") throw std::invalid_argument("usage: heartbeats <node> on|off");
        nodeArg(sim, args[1]).setHeartbeatsEnabled(args[2] == "on");
        return "node " + args[1] + " heartbeats " + args[2];
    }
    if (verb == "period") {
        expectArgs(args, 2, 2, "period <node> <ms>");
        nodeArg(sim, args[1]).setHeartbeatPeriod(std::chrono::milliseconds(number(args[2], "period", 60000)));
        return "node " + args[1] + " heartbeat every " + args[2] + " ms";
    }
    if (verb == "drop") {
        expectArgs(args, 2, 3, "drop <node> <fraction> [<cmd>]");
        const double share = fraction(args[2]);
        changeFaults(nodeArg(sim, args[1]), args, 3, [&](ReplyFaults& f) { f.drop_fraction = share; });
        return "node " + args[1] + " drops " + args[2] + " of its replies";
    }
    if (verb == "delay") {
        expectArgs(args, 2, 3, "delay <node> <ms> [<cmd>]");
        const auto delay = std::chrono::milliseconds(number(args[2], "delay", 60000));
        changeFaults(nodeArg(sim, args[1]), args, 3, [&](ReplyFaults& f) { f.delay = delay; });
        return "node " + args[1] + " delays replies by " + args[2] + " ms";
    }
    if (verb == "wrongid") {
        expectArgs(args, 2, 3, "wrongid <node> <as> [<cmd>]");
        const uint8_t as = commandArg(args[2]);
        changeFaults(nodeArg(sim, args[1]), args, 3, [&](ReplyFaults& f) { f.answer_as = as; });
        return "node " + args[1] + " answers with command " + args[2];
    }
    if (verb == "clear") {
        expectArgs(args, 1, 1, "clear <node>");
        nodeArg(sim, args[1]).clearReplyFaults();
        return "node " + args[1] + " replies normally";
    }
    if (verb == "reboot") {
        expectArgs(args, 1, 2, "reboot <node> [<ms>]");
        const auto silence = args.size() > 2 ? std::chrono::milliseconds(number(args[2], "time", 600000))
                                             : std::chrono::milliseconds(Node::kDefaultBootTime);
        nodeArg(sim, args[1]).reboot(silence);
        return "node " + args[1] + " reboots";
    }
    if (verb == "rate") {
        expectArgs(args, 2, 2, "rate <node> <code 0-8>");
        nodeArg(sim, args[1]).setBitRate(static_cast<CANBaudRate>(number(args[2], "bit rate code", CAN_BAUD_1M)));
        return "node " + args[1] + " runs at bit rate code " + args[2];
    }
    if (verb == "shaft") {
        expectArgs(args, 2, 2, "shaft <node> <deg/s>");
        char* end = nullptr;
        const double rate = std::strtod(args[2].c_str(), &end);
        if (*end != '\0' || !std::isfinite(rate)) throw std::invalid_argument("bad shaft rate: " + args[2]);
        auto* encoder = dynamic_cast<EncoderNode*>(&nodeArg(sim, args[1]));
        if (encoder == nullptr) throw std::invalid_argument("node " + args[1] + " is no encoder");
        encoder->setShaftRate(rate);
        return "node " + args[1] + " shaft turns at " + args[2] + " deg/s";
    }
    if (verb == "bootfault") {
        expectArgs(args, 3, 3, "bootfault <node> <step> <fault>");
        auto* controller = dynamic_cast<MotorControllerNode*>(&nodeArg(sim, args[1]));
        if (controller == nullptr) throw std::invalid_argument("node " + args[1] + " has no bootloader");
        const auto step = bootStepFromName(args[2]);
        const auto fault = bootFaultFromName(args[3]);
        if (!step) throw std::invalid_argument("bad bootloader step: " + args[2]);
        if (!fault) throw std::invalid_argument("bad bootloader fault: " + args[3]);
        controller->injectBootFault(*step, *fault);
        return "node " + args[1] + " bootloader: " + args[3] + " at the next " + args[2];
    }
    if (verb == "garbage") {
        expectArgs(args, 0, 1, "garbage [<lines>]");
        const auto lines = args.size() > 1 ? number(args[1], "line count", 100000) : 10;
        sim.sendGarbage(static_cast<unsigned>(lines));
        return "sent " + std::to_string(lines) + " garbage lines";
    }
    if (verb == "unplug") {
        expectArgs(args, 0, 0, "unplug");
        sim.unplug();
        return "adapter unplugged";
    }
    if (verb == "replug") {
        expectArgs(args, 0, 0, "replug");
        sim.replug();
        return "adapter plugged in on " + sim.portName();
    }
    throw std::invalid_argument("unknown command '" + verb + "' (try help)");
}

}  // namespace kinetra::sim
