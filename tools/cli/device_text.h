#pragma once
// The words the tool prints for the library's codes: result codes, device type
// codes from the heartbeats, and bit rates.

#include <kinetra/types.h>

#include <optional>
#include <string>

namespace kinetra::cli {

/// "RET_TIMEOUT" and so on; "RET_<n>" for a value outside the enumeration.
std::string statusName(ret_status_t status);
/// A short meaning: "no reply within 200 ms", "not on the bus", ...
std::string statusMeaning(ret_status_t status);
/// "node 5: bus voltage: no reply within 200 ms (RET_TIMEOUT)".
std::string deviceFailure(unsigned node, const std::string& what, ret_status_t status);
/// Throws CliError(kExitDevice) with deviceFailure() unless `status` is RET_OK.
void require(unsigned node, const std::string& what, ret_status_t status);

/// The device classes the heartbeat's device type code names.
enum class DeviceClass { Driver, Actuator, Imu, Encoder, Unknown };
/// Classifies a heartbeat device type code (the codes the devices, and the
/// simulator, send: 1 driver, 2 actuator, 3 IMU, 4 encoder).
DeviceClass classOfType(unsigned type_code);
/// "driver", "actuator", "imu", "encoder" or "unknown".
std::string className(DeviceClass device_class);

/// "1M", "500k", ... for a selector; "?" outside the table.
std::string bitRateName(CANBaudRate rate);
/// Reads a bit rate as a name ("500k", "1M") or in bit/s ("500000").
std::optional<CANBaudRate> parseBitRate(const std::string& text);
/// The accepted names, for help and error texts: "10k, 20k, ..., 1M".
std::string bitRateNames();

}  // namespace kinetra::cli
