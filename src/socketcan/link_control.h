#pragma once
// What the transport asks the kernel about a network interface besides frames:
// whether a name can be a CAN interface, the interface's kind, and its bit rate
// change through rtnetlink.

#include <string>

namespace kinetra {
class LogSink;
}

namespace kinetra::socketcan {

/// The ARPHRD_CAN hardware type, as /sys/class/net/NAME/type shows it.
constexpr int kCanHardwareType = 280;

/// Why a name cannot be opened, or empty when it names a CAN network interface.
/// Looks in `sysfs_net` (normally /sys/class/net) for the interface's type.
std::string refuseInterfaceName(const std::string& name, const std::string& sysfs_net = "/sys/class/net");

/// The shell commands that set `name`'s bit rate by hand, for the log line of a
/// refused change: "ip link set can0 down && ip link set can0 type can bitrate
/// 500000 && ip link set can0 up".
std::string bitRateCommandHint(const std::string& name, unsigned bits_per_second);

/// Brings interface `ifindex` up or takes it down; the errno the kernel answered,
/// 0 on success (EPERM without CAP_NET_ADMIN).
int setLinkUp(int ifindex, bool up);

/// Sets interface `ifindex`'s bit rate: takes the link down, sets the rate and
/// brings it up again (also when setting failed, so the bus is not left down). A
/// link whose kind is not "can" (vcan, slcan) has no rate to set and is left as it
/// is. Every wait for the kernel is bounded. True on success; otherwise false
/// with a log line saying why and, when not permitted, what to run instead.
bool setLinkBitRate(int ifindex, const std::string& name, unsigned bits_per_second, LogSink& log);

}  // namespace kinetra::socketcan
