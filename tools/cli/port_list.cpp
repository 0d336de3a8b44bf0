#include "cli/port_list.h"

#include "cli/exit_codes.h"

#include <kinetra/usb_interface.h>

#ifndef _WIN32
#include "serial/sysfs_ports.h"
#include "serial/virtual_port_registry.h"
#endif

#include <cstdlib>

namespace kinetra::cli {

namespace {
const char* const kHowToChoose =
    "choose one with --port PATH (the adapter), --slcan PATH (any SLCAN adapter or kinetra-sim), "
    "--sim (a simulated bus) or KINETRA_PORT=PATH";

std::string listed(const std::vector<serial::PortInfo>& ports, bool adapters_only) {
    std::string text;
    for (const serial::PortInfo& port : ports) {
        if (adapters_only && !isAdapter(port)) continue;
        text += (text.empty() ? "" : ", ") + port.port + " (" +
                (port.description.empty() ? std::string("no description") : port.description) + ")";
    }
    return text;
}
}  // namespace

std::vector<serial::PortInfo> listPorts() {
#ifdef _WIN32
    return serial::list_ports();  // the tests seed Wine's registry instead of a sysfs tree
#else
    const char* root = std::getenv("KINETRA_SYSFS_ROOT");
    if (root == nullptr || *root == '\0') return serial::list_ports();
    std::vector<serial::PortInfo> ports = kinetra::listSysfsPorts(root);
    // The virtual ports (an in-process simulator) follow the hardware, as in list_ports().
    for (const serial::PortInfo& port : kinetra::VirtualPortRegistry::instance().ports()) ports.push_back(port);
    return ports;
#endif
}

bool isAdapter(const serial::PortInfo& port) { return isKinetraAdapterDescription(port.description); }

std::string chooseAdapter(const std::vector<serial::PortInfo>& ports) {
    std::vector<std::string> adapters;
    for (const serial::PortInfo& port : ports) {
        if (isAdapter(port)) adapters.push_back(port.port);
    }
    if (adapters.size() == 1) return adapters.front();
    if (adapters.empty()) {
        const std::string found = ports.empty() ? "no serial ports at all" : "serial ports " + listed(ports, false);
        throw CliError(kExitNoAdapter, "no Kinetra adapter found (" + found + "); " + kHowToChoose);
    }
    throw CliError(kExitNoAdapter, "several Kinetra adapters found: " + listed(ports, true) + "; " + kHowToChoose);
}

}  // namespace kinetra::cli
