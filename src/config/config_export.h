#pragma once
// Exporting a driver's configuration: its settings read over the bus, then
// written as the configuration document.

#include "config/driver_configuration.h"

#include <kinetra/config_result.h>
#include <kinetra/driver.h>

#include <string>

namespace kinetra::config {

/// Reads every exported setting with the driver's own reads, one exchange each,
/// in a fixed order; stops at the first read that fails and returns its status
/// (`settings` then holds only what was read before it).
ret_status_t readDriverConfiguration(Driver& driver, DriverConfiguration* settings);

/// The same, naming in `failed` (when not null) the Driver read that failed.
ret_status_t readDriverConfiguration(Driver& driver, DriverConfiguration* settings, const char** failed);

/// The document of the driver's current settings; empty when a read fails.
std::string exportDriverConfiguration(Driver& driver);

/// The same export, naming the read that failed and its status.
ConfigResult exportDriverConfigurationResult(Driver& driver);

}  // namespace kinetra::config
