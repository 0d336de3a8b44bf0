#pragma once
// Reaching a node through the proxy of its class.

#include "cli/device_text.h"
#include "cli/exit_codes.h"

#include <kinetra/actuator.h>
#include <kinetra/driver.h>
#include <kinetra/imu.h>
#include <kinetra/vorlex.h>

#include <string>

namespace kinetra::cli {

/// Versions and firmware commit, as every class reports them.
struct Identity {
    std::string hardware;
    std::string firmware;
    std::string commit;
};

/// Reads the identity through any proxy; throws CliError on a failed read.
template <typename Proxy>
Identity readIdentity(Proxy& proxy, unsigned node) {
    unsigned char a = 0, b = 0, c = 0, d = 0, major = 0, minor = 0;
    unsigned short patch = 0;
    Identity identity;
    require(node, "hardware version", proxy.getHardwareVersion(&a, &b, &c, &d));
    identity.hardware = std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c) + "." + std::to_string(d);
    require(node, "firmware version", proxy.getFirmwareVersion(&major, &minor, &patch));
    identity.firmware = std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
    require(node, "firmware commit", proxy.getFirmwareCommit(&identity.commit));
    return identity;
}

/// Calls `action(proxy)` with a proxy of the node's class; throws CliError for a
/// type code the tool does not know.
template <typename Action>
auto withProxy(Interface& bus, unsigned node, unsigned type_code, Action action) {
    switch (classOfType(type_code)) {
        case DeviceClass::Driver: {
            Driver proxy(node, &bus);
            return action(proxy);
        }
        case DeviceClass::Actuator: {
            Actuator proxy(node, &bus);
            return action(proxy);
        }
        case DeviceClass::Imu: {
            IMU proxy(node, &bus);
            return action(proxy);
        }
        case DeviceClass::Encoder: {
            Vorlex proxy(node, &bus);
            return action(proxy);
        }
        case DeviceClass::Unknown: break;
    }
    throw CliError(kExitDevice, "node " + std::to_string(node) + ": unknown device type code " +
                                    std::to_string(type_code));
}

}  // namespace kinetra::cli
