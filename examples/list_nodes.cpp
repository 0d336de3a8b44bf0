// The smallest program for real hardware, on Linux and Windows alike: finds the
// Kinetra adapter by its port's description (or opens the port named on the
// command line: a COM port, /dev/ttyACM0, or kinetra-sim's pseudo-terminal),
// waits for the nodes' heartbeats and prints each node it heard.
//   list_nodes [PORT]

#include <kinetra/serial/serial.h>
#include <kinetra/usb_interface.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <thread>

namespace {
/// Longer than a node's heartbeat period, so that every node present is heard.
constexpr std::chrono::milliseconds kListen{1500};

/// The one port whose description names the adapter, or "" when none or several do.
std::string findAdapter() {
    std::string found;
    for (const serial::PortInfo& port : serial::list_ports()) {
        if (!isKinetraAdapterDescription(port.description)) continue;
        if (!found.empty()) return "";
        found = port.port;
    }
    return found;
}
}  // namespace

int main(int argc, char** argv) {
    const std::string port = argc > 1 ? argv[1] : findAdapter();
    if (port.empty()) {
        std::fprintf(stderr, "list_nodes: no single Kinetra adapter found; name its port: list_nodes PORT\n");
        return 2;
    }
    USBInterface bus;
    try {
        if (!bus.initInterface(port)) {
            std::fprintf(stderr, "list_nodes: cannot open %s\n", port.c_str());
            return 1;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "list_nodes: cannot open %s: %s\n", port.c_str(), error.what());
        return 1;
    }
    uint8_t major = 0, minor = 0, patch = 0;
    std::string tag;
    if (bus.getFirmwareVersion(&major, &minor, &patch, &tag) == RET_INTERFACE_OK) {
        std::printf("adapter on %s, firmware %u.%u.%u\n", port.c_str(), major, minor, patch);
    }
    std::this_thread::sleep_for(kListen);
    for (const auto& [node, type] : bus.getConnectedDevices()) {
        std::printf("node %u: device type %u\n", node, static_cast<unsigned>(type));
    }
    bus.closeInterface();
    return 0;
}
