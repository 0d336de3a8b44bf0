#pragma once
// The Driver proxy's implementation, for the library's code beyond the proxy's
// own source that works on it (the sensor chip's off-axis reset).

#include <kinetra/driver.h>

#include "devices/motor_driver_commands.h"

struct Driver::DriverImpl : kinetra::DriverCommands {
    using kinetra::DriverCommands::DriverCommands;
};
