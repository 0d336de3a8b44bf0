// serial::list_ports and the virtual-port registration functions.

#include <kinetra/serial/serial.h>

#ifdef _WIN32
#include "serial/setupdi_ports_win.h"
#else
#include "serial/sysfs_ports.h"
#endif
#include "serial/virtual_port_registry.h"

namespace serial {

std::vector<PortInfo> list_ports() {
#ifdef _WIN32
    std::vector<PortInfo> ports = kinetra::listSetupDiPorts();
#else
    std::vector<PortInfo> ports = kinetra::listSysfsPorts("/sys");
#endif
    const std::vector<PortInfo> virtual_ports = kinetra::VirtualPortRegistry::instance().ports();
    ports.insert(ports.end(), virtual_ports.begin(), virtual_ports.end());
    return ports;
}

void register_virtual_port(const PortInfo& info) { kinetra::VirtualPortRegistry::instance().add(info); }

void unregister_virtual_port(const std::string& port) { kinetra::VirtualPortRegistry::instance().remove(port); }

}  // namespace serial
