// serial::list_ports and the virtual-port registration functions.

#include <kinetra/serial/serial.h>

#include "serial/sysfs_ports.h"
#include "serial/virtual_port_registry.h"

namespace serial {

std::vector<PortInfo> list_ports() {
    std::vector<PortInfo> ports = kinetra::listSysfsPorts("/sys");
    const std::vector<PortInfo> virtual_ports = kinetra::VirtualPortRegistry::instance().ports();
    ports.insert(ports.end(), virtual_ports.begin(), virtual_ports.end());
    return ports;
}

void register_virtual_port(const PortInfo& info) { kinetra::VirtualPortRegistry::instance().add(info); }

void unregister_virtual_port(const std::string& port) { kinetra::VirtualPortRegistry::instance().remove(port); }

}  // namespace serial
