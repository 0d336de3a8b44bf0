#pragma once
/// @file device_codes.h
/// Names for the codes a motor controller reports: its controller state and
/// control mode, its error code and the bits of its fault word. Header-only.
///
/// The state and mode numbers are those of the Kinetra motor firmware (and of
/// the simulator, which models it). The firmware gives its error codes and fault
/// bits no names the library could know, so those are named by number:
/// `DRIVER_ERROR_7`, `bit 3`.

#include <kinetra/driver_error.h>

#include <string>
#include <vector>

namespace kinetra {

/// The controller states by number: what `getControllerState` reports.
inline const char* const kControllerStateNames[] = {"idle", "active", "calibrating", "emergency stop"};
/// The control modes by number: the mode of the last set point, as
/// `getControllerMode` reports it.
inline const char* const kControllerModeNames[] = {
    "none",
    "position",
    "velocity",
    "velocity ramp",
    "torque",
    "position feed-forward",
    "velocity feed-forward",
    "trapezoidal trajectory",
    "s-curve trajectory",
    "torque ramp",
    "sensorless velocity",
    "open-loop position",
    "open-loop velocity",
};
/// The controller state in which set points are not followed.
constexpr unsigned kControllerStateIdle = 0;

/// The name of a controller state; "state N" for a number the table lacks.
inline std::string controllerStateName(unsigned state) {
    constexpr unsigned count = sizeof kControllerStateNames / sizeof kControllerStateNames[0];
    return state < count ? kControllerStateNames[state] : "state " + std::to_string(state);
}

/// The name of a control mode; "mode N" for a number the table lacks.
inline std::string controllerModeName(unsigned mode) {
    constexpr unsigned count = sizeof kControllerModeNames / sizeof kControllerModeNames[0];
    return mode < count ? kControllerModeNames[mode] : "mode " + std::to_string(mode);
}

/// A driver's error code by its enumeration name ("DRIVER_ERROR_7",
/// "DRIVER_ERROR_UNRECOGNISED"); "none" for 0.
inline std::string driverErrorName(driver_error_t code) {
    if (code == DRIVER_ERROR_0) return "none";
    if (code == DRIVER_ERROR_UNRECOGNISED) return "DRIVER_ERROR_UNRECOGNISED";
    return "DRIVER_ERROR_" + std::to_string(static_cast<int>(code));
}

/// The set bits of a fault word, lowest first, as "bit N"; empty for 0.
inline std::vector<std::string> faultBitNames(unsigned long fault) {
    std::vector<std::string> names;
    for (unsigned bit = 0; bit < 32; ++bit) {
        if ((fault >> bit) & 1ul) names.push_back("bit " + std::to_string(bit));
    }
    return names;
}

}  // namespace kinetra
