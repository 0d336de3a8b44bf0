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

/// "idle (0)": a controller state by name and number.
std::string controllerStateText(unsigned state);
/// "position (1)": a control mode by name and number.
std::string controllerModeText(unsigned mode);
/// An error code's name: a driver's by the library's enumeration, another
/// device's 32-bit code "error N"; "none" for 0.
std::string errorCodeName(unsigned long code, bool driver);
/// "none (0)", "DRIVER_ERROR_7 (7)", "error 7 (7)".
std::string errorCodeText(unsigned long code, bool driver);
/// "none (0)", "0x00000009: bit 0, bit 3".
std::string faultText(unsigned long fault);

/// "1M", "500k", ... for a selector; "?" outside the table.
std::string bitRateName(CANBaudRate rate);
/// Reads a bit rate as a name ("500k", "1M") or in bit/s ("500000").
std::optional<CANBaudRate> parseBitRate(const std::string& text);
/// The accepted names, for help and error texts: "10k, 20k, ..., 1M".
std::string bitRateNames();

}  // namespace kinetra::cli
