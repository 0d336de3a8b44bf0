#include "cli/frame_text.h"

#include "cli/device_text.h"

#include "can/bus.h"
#include "devices/protocol/imu_protocol.h"
#include "devices/protocol/motor_controller_protocol.h"
#include "devices/protocol/imu_operations.h"
#include "devices/protocol/motor_operations.h"
#include "devices/protocol/payload.h"
#include "devices/protocol/vorlex_operations.h"
#include "devices/protocol/vorlex_protocol.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace kinetra::cli {

namespace {
namespace protocol = kinetra::protocol;
namespace motor = kinetra::protocol::motor;
namespace imu = kinetra::protocol::imu;
namespace vorlex = kinetra::protocol::vorlex;

struct CommandName {
    uint8_t id;
    const char* name;  // the constant's name, shown without its "k"
};
#define KINETRA_NAME(ns, constant) {ns::constant, #constant}

const CommandName kCommonNames[] = {
    KINETRA_NAME(protocol, kHeartbeat),           KINETRA_NAME(protocol, kAcknowledgement),
    KINETRA_NAME(protocol::common, kGetHardwareVersion), KINETRA_NAME(protocol::common, kGetFirmwareVersion),
    KINETRA_NAME(protocol::common, kGetFirmwareCommit),  KINETRA_NAME(protocol::common, kSetNodeId),
    KINETRA_NAME(protocol::common, kGetNodeId),          KINETRA_NAME(protocol::common, kReboot),
    KINETRA_NAME(protocol::common, kSaveConfigurations), KINETRA_NAME(protocol::common, kEraseConfigurations),
    KINETRA_NAME(protocol::common, kEnterDfuMode),
};

const CommandName kMotorNames[] = {
    KINETRA_NAME(motor, kSetCurrentPositionAs), KINETRA_NAME(motor, kSetDeviceToIdle),
    KINETRA_NAME(motor, kSetDeviceToActive), KINETRA_NAME(motor, kSetCurrentPositionToZero),
    KINETRA_NAME(motor, kRunEncoderIndexSearch), KINETRA_NAME(motor, kRunEncoderMatching),
    KINETRA_NAME(motor, kRunCalibrationSequence), KINETRA_NAME(motor, kRunEncoderCalibration),
    KINETRA_NAME(motor, kSetPositionControl), KINETRA_NAME(motor, kSetVelocityControl),
    KINETRA_NAME(motor, kSetTorqueControl), KINETRA_NAME(motor, kSetPositionControlWithFeedForward),
    KINETRA_NAME(motor, kSetVelocityControlWithFeedForward), KINETRA_NAME(motor, kSetTrapezoidalTrajectoryControl),
    KINETRA_NAME(motor, kSetScurveTrajectoryControl), KINETRA_NAME(motor, kSetTorqueRampControl),
    KINETRA_NAME(motor, kSetSensorlessVelocityControl), KINETRA_NAME(motor, kSetOpenLoopPositionControl),
    KINETRA_NAME(motor, kSetOpenLoopVelocityControl), KINETRA_NAME(motor, kClearErrors),
    KINETRA_NAME(motor, kEmergencyStop), KINETRA_NAME(motor, kSetDCBusTripLevels),
    KINETRA_NAME(motor, kSetBrakeResistor), KINETRA_NAME(motor, kSetRegenCurrentTripLevel),
    KINETRA_NAME(motor, kSetMotorParameters), KINETRA_NAME(motor, kSetMotorCalibrationParameters),
    KINETRA_NAME(motor, kConfigureMotorEncoder), KINETRA_NAME(motor, kSetGearBoxParameters),
    KINETRA_NAME(motor, kConfigureOutputEncoder), KINETRA_NAME(motor, kSetPositionControllerGain),
    KINETRA_NAME(motor, kSetVelocityControllerGains), KINETRA_NAME(motor, kSetCurrentControllerBandwidth),
    KINETRA_NAME(motor, kSetMotorEncoderBandwidth), KINETRA_NAME(motor, kSetMotorThermistorParameters),
    KINETRA_NAME(motor, kSetMotorThermalLimit), KINETRA_NAME(motor, kSetCurrentFilter),
    KINETRA_NAME(motor, kSetEncoderDataFilter), KINETRA_NAME(motor, kSetStartupConfigs),
    KINETRA_NAME(motor, kSetMAxxxSPIRegister), KINETRA_NAME(motor, kSetMotorPhaseParameters),
    KINETRA_NAME(motor, kSetMotorTorqueLimit), KINETRA_NAME(motor, kSetMotorType),
    KINETRA_NAME(motor, kSetCANBaudRate), KINETRA_NAME(motor, kGetDCBusTripLevels),
    KINETRA_NAME(motor, kGetBrakeResistorState), KINETRA_NAME(motor, kGetRegenCurrentTripLevel),
    KINETRA_NAME(motor, kGetMotorParameters), KINETRA_NAME(motor, kGetMotorCalibrationParameters),
    KINETRA_NAME(motor, kGetMotorEncoderConfiguration), KINETRA_NAME(motor, kGetGearBoxParameters),
    KINETRA_NAME(motor, kGetOutputEncoderConfiguration), KINETRA_NAME(motor, kGetPositionControllerGain),
    KINETRA_NAME(motor, kGetVelocityControllerGains), KINETRA_NAME(motor, kGetCurrentControllerBandwidth),
    KINETRA_NAME(motor, kGetCurrentControllerGains), KINETRA_NAME(motor, kGetMotorEncoderBandwidth),
    KINETRA_NAME(motor, kGetZeroPosition), KINETRA_NAME(motor, kGetMotorThermistorConfiguration),
    KINETRA_NAME(motor, kGetCurrentFilter), KINETRA_NAME(motor, kGetEncoderDataFilter),
    KINETRA_NAME(motor, kGetStartupConfigs), KINETRA_NAME(motor, kGetMAxxxSPIRegister),
    KINETRA_NAME(motor, kGetMotorTorqueLimit), KINETRA_NAME(motor, kGetMotorType),
    KINETRA_NAME(motor, kGetCANBaudRate), KINETRA_NAME(motor, kGetOutputPosition),
    KINETRA_NAME(motor, kGetOutputVelocity), KINETRA_NAME(motor, kGetOutputAcceleration),
    KINETRA_NAME(motor, kGetOutputTorque), KINETRA_NAME(motor, kGetMotorPosition),
    KINETRA_NAME(motor, kGetMotorVelocity), KINETRA_NAME(motor, kGetMotorAcceleration),
    KINETRA_NAME(motor, kGetMotorTorque), KINETRA_NAME(motor, kGetTemperatures),
    KINETRA_NAME(motor, kGetPhaseCurrents), KINETRA_NAME(motor, kGetBusVoltageCurrent),
    KINETRA_NAME(motor, kGetIdqCurrents), KINETRA_NAME(motor, kGetBrakeCurrent),
    KINETRA_NAME(motor, kGetDCCalibPhaseCurrents), KINETRA_NAME(motor, kGetHallEncoderState),
    KINETRA_NAME(motor, kGetHallEncoderStateCountsLow), KINETRA_NAME(motor, kGetHallEncoderStateCountsHigh),
    KINETRA_NAME(motor, kGetControllerState), KINETRA_NAME(motor, kGetMotorState),
    KINETRA_NAME(motor, kGetMotorEncoderState), KINETRA_NAME(motor, kGetOutputEncoderState),
    KINETRA_NAME(motor, kGetTrajectoryDoneStatus), KINETRA_NAME(motor, kGetMotorPhaseParameters),
    KINETRA_NAME(motor, kGetMotorEncoderRawData), KINETRA_NAME(motor, kGetOutputEncoderRawData),
    KINETRA_NAME(motor, kGetCANCommunicationStatus), KINETRA_NAME(motor, kGetControllerMode),
    KINETRA_NAME(motor, kGetDriverFault), KINETRA_NAME(motor, kGetErrorCode),
    KINETRA_NAME(motor, kGetDebugErrorCode),
};

const CommandName kImuNames[] = {
    KINETRA_NAME(imu, kGetRotationVectorData), KINETRA_NAME(imu, kGetRawAccelerometerData),
    KINETRA_NAME(imu, kGetRawGyroData), KINETRA_NAME(imu, kGetRawMagnetometerData),
    KINETRA_NAME(imu, kGetLinearAccelerometerData), KINETRA_NAME(imu, kGetAccelerometerData),
    KINETRA_NAME(imu, kGetGyroData), KINETRA_NAME(imu, kGetUncalibratedGyroData),
    KINETRA_NAME(imu, kGetUncalibratedGyroBiasData), KINETRA_NAME(imu, kGetMagnetometerData),
    KINETRA_NAME(imu, kGetEulerAngles), KINETRA_NAME(imu, kGetGravityData),
    KINETRA_NAME(imu, kGetCalibrationStatus), KINETRA_NAME(imu, kGetRotationVectorAccuracy),
    KINETRA_NAME(imu, kSetSensorReport), KINETRA_NAME(imu, kSetOrientation),
    KINETRA_NAME(imu, kStartCalibration), KINETRA_NAME(imu, kStopCalibration),
    KINETRA_NAME(imu, kSaveCalibration), KINETRA_NAME(imu, kClearDCD),
    KINETRA_NAME(imu, kTareYaw), KINETRA_NAME(imu, kTareAll), KINETRA_NAME(imu, kClearTare),
};

const CommandName kVorlexNames[] = {
    KINETRA_NAME(vorlex, kConfigureEncoder), KINETRA_NAME(vorlex, kGetEncoderConfiguration),
    KINETRA_NAME(vorlex, kSetCurrentPositionToZero), KINETRA_NAME(vorlex, kGetZeroPosition),
    KINETRA_NAME(vorlex, kSetEncoderDirection), KINETRA_NAME(vorlex, kGetEncoderDirection),
    KINETRA_NAME(vorlex, kSetFilterWindowLength), KINETRA_NAME(vorlex, kGetFilterWindowLength),
    KINETRA_NAME(vorlex, kSetMAxxxSPIRegister), KINETRA_NAME(vorlex, kGetMAxxxSPIRegister),
    KINETRA_NAME(vorlex, kSetScalingFactor), KINETRA_NAME(vorlex, kGetScalingFactor),
    KINETRA_NAME(vorlex, kGetEncoderCount), KINETRA_NAME(vorlex, kGetEncoderRawData),
    KINETRA_NAME(vorlex, kGetAbsoluteAngle), KINETRA_NAME(vorlex, kGetMultiturnAngle),
    KINETRA_NAME(vorlex, kGetRawVelocity), KINETRA_NAME(vorlex, kGetScaledVelocity),
    KINETRA_NAME(vorlex, kGetFilteredVelocity), KINETRA_NAME(vorlex, kGetScaledFilteredVelocity),
    KINETRA_NAME(vorlex, kGetRawAcceleration), KINETRA_NAME(vorlex, kGetScaledAcceleration),
    KINETRA_NAME(vorlex, kGetFilteredAcceleration), KINETRA_NAME(vorlex, kGetScaledFilteredAcceleration),
    KINETRA_NAME(vorlex, kSetLinearCount), KINETRA_NAME(vorlex, kSetCANBaudRate),
    KINETRA_NAME(vorlex, kGetCANBaudRate), KINETRA_NAME(vorlex, kGetErrorCode),
    KINETRA_NAME(vorlex, kClearEncoderErrors),
};
#undef KINETRA_NAME

template <std::size_t N>
const char* findName(const CommandName (&names)[N], unsigned command) {
    for (const CommandName& entry : names) {
        if (entry.id == command) return entry.name;
    }
    return nullptr;
}

/// "kGetBusVoltageCurrent" -> "getBusVoltageCurrent": the library's own spelling.
std::string displayName(const char* constant) {
    std::string name(constant + 1);
    if (!name.empty()) name[0] = static_cast<char>(name[0] - 'A' + 'a');
    return name;
}

std::string commandName(DeviceClass device_class, unsigned command) {
    const char* name = nullptr;
    switch (device_class) {
        case DeviceClass::Driver:
        case DeviceClass::Actuator: name = findName(kMotorNames, command); break;
        case DeviceClass::Imu: name = findName(kImuNames, command); break;
        case DeviceClass::Encoder: name = findName(kVorlexNames, command); break;
        case DeviceClass::Unknown: break;
    }
    if (name == nullptr) name = findName(kCommonNames, command);
    return name != nullptr ? displayName(name) : std::string();
}

/// The operations of a class whose replies the table names, or nullptr.
const protocol::OperationTable* operationsOf(DeviceClass device_class) {
    switch (device_class) {
        case DeviceClass::Driver: return &motor::kDriverOperations;
        case DeviceClass::Actuator: return &motor::kActuatorOperations;
        case DeviceClass::Imu: return &imu::kImuOperations;
        case DeviceClass::Encoder: return &vorlex::kVorlexOperations;
        case DeviceClass::Unknown: break;
    }
    return nullptr;
}

std::string joined(const std::vector<std::string>& parts, const char* separator) {
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : separator) + part;
    return text;
}

const protocol::RouteTable* routesOf(DeviceClass device_class) {
    switch (device_class) {
        case DeviceClass::Driver: return &motor::kDriverRoutes;
        case DeviceClass::Actuator: return &motor::kActuatorRoutes;
        case DeviceClass::Imu: return &imu::kImuRoutes;
        case DeviceClass::Encoder: return &vorlex::kVorlexRoutes;
        case DeviceClass::Unknown: break;
    }
    return nullptr;
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

/// The values of a reply, as the proxies would decode them.
std::vector<std::string> replyValues(const can_frame_data& frame, const protocol::ReplyLayout& layout, float scale) {
    const uint64_t word = protocol::payloadWord(frame);
    std::vector<std::string> values;
    unsigned offset = 0;
    for (std::size_t i = 0; i < layout.count; ++i) {
        const protocol::ValueKind kind = layout.kinds[i];
        const unsigned width = protocol::bitWidth(kind);
        if (offset + width > 64) break;
        const uint64_t bits = width >= 64 ? word : (word >> offset) & ((uint64_t{1} << width) - 1);
        std::string value;
        switch (kind) {
            case protocol::ValueKind::Bool: value = bits != 0 ? "true" : "false"; break;
            case protocol::ValueKind::U8:
            case protocol::ValueKind::U16:
            case protocol::ValueKind::U32:
            case protocol::ValueKind::U64: value = std::to_string(bits); break;
            case protocol::ValueKind::I16: {
                const auto raw = static_cast<int16_t>(static_cast<uint16_t>(bits));
                value = scale != 0.0f ? number(static_cast<float>(raw) * scale) : std::to_string(raw);
                break;
            }
            case protocol::ValueKind::I32:
                value = std::to_string(static_cast<int32_t>(static_cast<uint32_t>(bits)));
                break;
            case protocol::ValueKind::F32: {
                const auto raw = static_cast<uint32_t>(bits);
                float f = 0.0f;
                std::memcpy(&f, &raw, sizeof f);
                value = number(f);
                break;
            }
            case protocol::ValueKind::Text: value = "\"" + protocol::textFromFrame(frame) + "\""; break;
        }
        values.push_back(value);
        offset += width;
    }
    return values;
}

std::string hexBytes(const can_frame_data& frame) {
    std::string text;
    const unsigned length = frame.can_dlc > 8 ? 8 : frame.can_dlc;
    for (unsigned i = 0; i < length; ++i) {
        char byte[3];
        std::snprintf(byte, sizeof byte, "%02X", frame.data[i]);
        text += byte;
    }
    return text;
}
}  // namespace

DecodedFrame decodeFrame(const can_frame_data& frame) {
    can_frame_data copy = frame;
    DecodedFrame decoded;
    decoded.extended = getExtFromFrame(&copy);
    decoded.remote = getRtrFromFrame(&copy);
    decoded.raw = decoded.remote ? "" : hexBytes(frame);
    if (!decoded.extended) {
        decoded.device_class = "unknown";
        decoded.command = frame.can_id & 0x7FF;
        return decoded;
    }
    decoded.node = getDeviceIdFromFrame(&copy);
    decoded.command = getCommandIdFromFrame(&copy);
    decoded.type_code = getDeviceTypeFromFrame(&copy);
    const DeviceClass device_class = classOfType(decoded.type_code);
    decoded.device_class = decoded.type_code == 0 ? "host" : className(device_class);
    decoded.command_name = commandName(device_class, decoded.command);
    // Only a node's data frames carry a reply layout; the host's frames carry
    // set points whose layouts the proxies write without a table.
    const protocol::RouteTable* routes = routesOf(device_class);
    if (routes != nullptr && !decoded.remote) {
        if (const protocol::ReplyLayout* layout = routes->find(static_cast<uint8_t>(decoded.command))) {
            const float scale = device_class == DeviceClass::Imu
                                    ? imu::fixedPointScale(static_cast<uint8_t>(decoded.command))
                                    : 0.0f;
            const std::vector<std::string> values = replyValues(frame, *layout, scale);
            decoded.values = joined(values, " ");
            // The operation that reads this reply names its values and their units.
            const protocol::OperationTable* operations = operationsOf(device_class);
            const protocol::Operation* op =
                operations != nullptr ? operations->findQuery(static_cast<uint8_t>(decoded.command)) : nullptr;
            if (op != nullptr && op->value_count <= values.size()) {
                decoded.operation = op->name;
                for (std::size_t i = 0; i < op->value_count; ++i) {
                    decoded.fields.push_back({op->values[i].name, values[i], op->values[i].unit});
                }
            }
        }
    }
    return decoded;
}

std::string monitorLine(const DecodedFrame& decoded) {
    char head[64];
    std::snprintf(head, sizeof head, "node %-6u %-8s ", decoded.node, decoded.device_class.c_str());
    std::string line = head;
    if (!decoded.command_name.empty()) {
        line += decoded.command_name;
    } else {
        char command[16];
        std::snprintf(command, sizeof command, "cmd 0x%02X", decoded.command);
        line += command;
    }
    if (decoded.remote) line += " (query)";
    if (!decoded.fields.empty()) {
        std::vector<std::string> parts;
        for (const DecodedField& field : decoded.fields) {
            parts.push_back(field.name + " " + field.value + (field.unit.empty() ? "" : " " + field.unit));
        }
        line += "  " + joined(parts, ", ");
    } else if (!decoded.values.empty()) {
        line += "  " + decoded.values;
    } else if (!decoded.raw.empty()) {
        line += "  [" + decoded.raw + "]";
    }
    return line;
}

nlohmann::json monitorJson(const DecodedFrame& decoded) {
    nlohmann::json json = {{"node", decoded.node},          {"type", decoded.type_code},
                           {"class", decoded.device_class}, {"command", decoded.command},
                           {"remote", decoded.remote},      {"extended", decoded.extended},
                           {"data", decoded.raw}};
    json["name"] = decoded.command_name.empty() ? nlohmann::json() : nlohmann::json(decoded.command_name);
    json["values"] = decoded.values.empty() ? nlohmann::json() : nlohmann::json(decoded.values);
    if (!decoded.fields.empty()) {
        json["operation"] = decoded.operation;
        nlohmann::json fields = nlohmann::json::array();
        for (const DecodedField& field : decoded.fields) {
            fields.push_back({{"name", field.name}, {"value", field.value}, {"unit", field.unit}});
        }
        json["fields"] = fields;
    }
    return json;
}

std::string candumpLine(const can_frame_data& frame, double unix_seconds, const std::string& iface) {
    const bool extended = (frame.can_id & 0x80000000u) != 0;
    const bool remote = (frame.can_id & 0x40000000u) != 0;
    const double whole = std::floor(unix_seconds);
    const auto micros = static_cast<long long>(std::llround((unix_seconds - whole) * 1e6));
    char head[64];
    std::snprintf(head, sizeof head, "(%010lld.%06lld) ", static_cast<long long>(whole) + micros / 1000000,
                  micros % 1000000);
    char id[16];
    if (extended) {
        std::snprintf(id, sizeof id, "%08X", frame.can_id & 0x1FFFFFFFu);
    } else {
        std::snprintf(id, sizeof id, "%03X", frame.can_id & 0x7FFu);
    }
    std::string line = head + iface + " " + id + "#";
    if (remote) {
        line += "R";
        if (frame.can_dlc > 0 && frame.can_dlc <= 8) line += static_cast<char>('0' + frame.can_dlc);
    } else {
        line += hexBytes(frame);
    }
    return line;
}

}  // namespace kinetra::cli
