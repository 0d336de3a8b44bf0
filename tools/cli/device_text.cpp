#include "cli/device_text.h"

#include "cli/exit_codes.h"

#include "can/bus.h"
#include "devices/protocol/motor_controller_protocol.h"

#include <kinetra/device_codes.h>

#include <cstdio>
#include <cstdlib>

namespace kinetra::cli {

namespace {
namespace motor = kinetra::protocol::motor;

struct StatusText {
    ret_status_t status;
    const char* name;
    const char* meaning;
};
const StatusText kStatusTexts[] = {
    {RET_OK, "RET_OK", "done"},
    {RET_NOT_INITIALISED, "RET_NOT_INITIALISED", "proxy not initialised"},
    {RET_TIMEOUT, "RET_TIMEOUT", "no reply within 200 ms"},
    {RET_NOT_CONNECTED, "RET_NOT_CONNECTED", "not on the bus (no heartbeat in the last 1.001 s)"},
    {RET_NOT_RUNNING, "RET_NOT_RUNNING", "the bus is not running (the last send failed)"},
    {RET_INVALID_ARGUMENT, "RET_INVALID_ARGUMENT", "argument out of range, nothing sent"},
};

const StatusText* findStatus(ret_status_t status) {
    for (const StatusText& text : kStatusTexts) {
        if (text.status == status) return &text;
    }
    return nullptr;
}

const char* const kBitRateNames[] = {"10k", "20k", "50k", "100k", "125k", "250k", "500k", "750k", "1M"};
static_assert(sizeof kBitRateNames / sizeof kBitRateNames[0] == motor::kCanBitRateCount,
              "one name per bit rate");
}  // namespace

std::string statusName(ret_status_t status) {
    const StatusText* text = findStatus(status);
    return text != nullptr ? text->name : "RET_" + std::to_string(static_cast<int>(status));
}

std::string statusMeaning(ret_status_t status) {
    const StatusText* text = findStatus(status);
    return text != nullptr ? text->meaning : "unknown result";
}

std::string deviceFailure(unsigned node, const std::string& what, ret_status_t status) {
    return "node " + std::to_string(node) + ": " + what + ": " + statusMeaning(status) + " (" + statusName(status) +
           ")";
}

void require(unsigned node, const std::string& what, ret_status_t status) {
    if (status != RET_OK) throw CliError(kExitDevice, deviceFailure(node, what, status));
}

DeviceClass classOfType(unsigned type_code) {
    using kinetra::protocol::DeviceType;
    switch (type_code) {
        case static_cast<unsigned>(DeviceType::Driver): return DeviceClass::Driver;
        case static_cast<unsigned>(DeviceType::Actuator): return DeviceClass::Actuator;
        case static_cast<unsigned>(DeviceType::Imu): return DeviceClass::Imu;
        case static_cast<unsigned>(DeviceType::Encoder): return DeviceClass::Encoder;
        default: return DeviceClass::Unknown;
    }
}

std::string className(DeviceClass device_class) {
    switch (device_class) {
        case DeviceClass::Driver: return "driver";
        case DeviceClass::Actuator: return "actuator";
        case DeviceClass::Imu: return "imu";
        case DeviceClass::Encoder: return "encoder";
        case DeviceClass::Unknown: break;
    }
    return "unknown";
}

std::string controllerStateText(unsigned state) {
    return controllerStateName(state) + " (" + std::to_string(state) + ")";
}

std::string controllerModeText(unsigned mode) { return controllerModeName(mode) + " (" + std::to_string(mode) + ")"; }

std::string errorCodeName(unsigned long code, bool driver) {
    if (code == 0) return "none";
    if (driver) return driverErrorName(static_cast<driver_error_t>(code));
    return "error " + std::to_string(code);
}

std::string errorCodeText(unsigned long code, bool driver) {
    return errorCodeName(code, driver) + " (" + std::to_string(code) + ")";
}

std::string faultText(unsigned long fault) {
    if (fault == 0) return "none (0)";
    char word[24];
    std::snprintf(word, sizeof word, "0x%08lX", fault);
    std::string text = word;
    const char* separator = ": ";
    for (const std::string& bit : faultBitNames(fault)) {
        text += separator + bit;
        separator = ", ";
    }
    return text;
}

std::string bitRateName(CANBaudRate rate) {
    const int index = static_cast<int>(rate);
    return index >= 0 && index < motor::kCanBitRateCount ? kBitRateNames[index] : "?";
}

std::optional<CANBaudRate> parseBitRate(const std::string& text) {
    for (int i = 0; i < motor::kCanBitRateCount; ++i) {
        if (text == kBitRateNames[i] || text == std::to_string(motor::kCanBitRates[i])) {
            return static_cast<CANBaudRate>(i);
        }
    }
    return std::nullopt;
}

std::string bitRateNames() {
    std::string names;
    for (const char* name : kBitRateNames) names += (names.empty() ? "" : ", ") + std::string(name);
    return names;
}

}  // namespace kinetra::cli
