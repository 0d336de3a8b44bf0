#include "config/config_import_plan.h"

#include "config/config_members.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>

namespace kinetra::config {
namespace {

using nlohmann::json;

/// The width of a member's field, as the refusal of a value names it.
template <typename T>
constexpr const char* fieldName() {
    if constexpr (std::is_same_v<T, float>) return "a single-precision float";
    if constexpr (std::is_same_v<T, unsigned char>) return "an unsigned 8-bit integer (0 to 255)";
    if constexpr (std::is_same_v<T, unsigned short>) return "an unsigned 16-bit integer (0 to 65535)";
    if constexpr (std::is_same_v<T, int>) return "a signed 32-bit integer";
    if constexpr (std::is_same_v<T, unsigned int>) return "an unsigned 32-bit integer";
    return "its field";
}

/// Refuses a member whose value its field cannot carry, naming both. The JSON
/// library's own error for a number out of range, so callers catch one kind.
[[noreturn]] void refuse(const char* name, const json& value, const char* field) {
    throw json::out_of_range::create(406, std::string(name) + ": " + value.dump() + " does not fit " + field,
                                     nullptr);
}

/// The text of a JSON library error without its "[json.exception...] " tag.
std::string withoutTag(const char* what) {
    const std::string text(what);
    const auto end = text.find("] ");
    return end == std::string::npos ? text : text.substr(end + 2);
}

/// Past this magnitude a double rounds to infinity as a float: the largest
/// float plus half its last step (a tie rounds to the even neighbour, infinity).
constexpr double kFloatOverflow = 0x1.ffffffp+127;

float floatValue(const char* name, const json& value) {
    // A flag reads as 0 or 1, as the JSON library converts it to a float.
    const double number = value.is_boolean() ? static_cast<double>(value.get<float>()) : value.get<double>();
    if (!std::isfinite(number) || std::fabs(number) >= kFloatOverflow) refuse(name, value, fieldName<float>());
    // Just beyond the largest float the value still rounds to it; the cast
    // itself would be undefined there.
    constexpr float kLargest = std::numeric_limits<float>::max();
    if (number > kLargest) return kLargest;
    if (number < -kLargest) return -kLargest;
    return static_cast<float>(number);
}

/// A fractional number is truncated toward zero; what then lies outside the
/// field is refused rather than wrapped into another setting. Every number is
/// first brought into 64 bits, saturating, so that one range check decides.
template <typename T>
T integerValue(const char* name, const json& value) {
    using Limits = std::numeric_limits<T>;
    constexpr int64_t kMost = std::numeric_limits<int64_t>::max();
    constexpr int64_t kLeast = std::numeric_limits<int64_t>::min();
    int64_t integral = 0;
    if (value.is_number_unsigned()) {
        const uint64_t number = value.get<uint64_t>();
        integral = number > static_cast<uint64_t>(kMost) ? kMost : static_cast<int64_t>(number);
    } else if (value.is_number_integer()) {
        integral = value.get<int64_t>();
    } else if (value.is_number_float()) {
        const double number = std::trunc(value.get<double>());
        constexpr double kBeyond = 9223372036854775808.0;  // 2^63, the first double past int64
        if (std::isnan(number)) refuse(name, value, fieldName<T>());
        integral = number >= kBeyond ? kMost : number < -kBeyond ? kLeast : static_cast<int64_t>(number);
    } else {
        return value.get<T>();  // a flag reads as 0 or 1; anything else is the type error
    }
    if (integral < static_cast<int64_t>(Limits::min()) || integral > static_cast<int64_t>(Limits::max())) {
        refuse(name, value, fieldName<T>());
    }
    return static_cast<T>(integral);
}

/// A member's value as its field takes it: the JSON library's conversions,
/// except that a value the field cannot carry (a float that would be infinite,
/// an integer out of the field's range) is refused. Either error names the
/// member.
template <typename T>
T valueAs(const char* name, const json& value) {
    try {
        if constexpr (std::is_same_v<T, float>) {
            return floatValue(name, value);
        } else if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
            return integerValue<T>(name, value);
        } else {
            return value.get<T>();
        }
    } catch (const json::type_error& error) {
        throw json::type_error::create(error.id, std::string(name) + ": " + withoutTag(error.what()), nullptr);
    }
}

/// The model object's members as the groups see them.
class Members {
public:
    explicit Members(const json& document) {
        if (!document.is_object()) return;
        const auto found = document.find(kModelName);
        if (found != document.end() && found->is_object()) model_ = &*found;
    }

    /// Present: the model object has the member and it is not null.
    bool present(std::initializer_list<const char*> names) const {
        if (model_ == nullptr) return false;
        for (const char* name : names) {
            const auto found = model_->find(name);
            if (found == model_->end() || found->is_null()) return false;
        }
        return true;
    }

    template <typename T>
    T get(const char* name) const {
        return valueAs<T>(name, model_->at(name));
    }

private:
    const json* model_ = nullptr;
};

}  // namespace

json parseConfigurationDocument(const std::string& text) {
    // Refusing deep nesting while parsing keeps a hostile document from ever
    // being built, printed or walked.
    const json::parser_callback_t depth_check = [](int depth, json::parse_event_t event, json&) {
        if ((event == json::parse_event_t::object_start || event == json::parse_event_t::array_start) &&
            depth >= kMaxNesting) {
            throw std::runtime_error(kParseErrorMessage);
        }
        return true;
    };
    try {
        return json::parse(text, depth_check, /*allow_exceptions=*/true, /*ignore_comments=*/false);
    } catch (...) {
        throw std::runtime_error(kParseErrorMessage);
    }
}

std::vector<ConfigWrite> planConfigurationImport(const json& document) {
    namespace m = member;
    const Members doc(document);
    std::vector<ConfigWrite> writes;
    const auto add = [&writes](const char* operation, std::function<ret_status_t(Driver&)> apply) {
        writes.push_back(ConfigWrite{operation, std::move(apply)});
    };

    if (doc.present({m::kUndervoltageLevel, m::kOvervoltageLevel})) {
        const auto under = doc.get<float>(m::kUndervoltageLevel);
        const auto over = doc.get<float>(m::kOvervoltageLevel);
        add("setDCBusTripLevels", [=](Driver& d) { return d.setDCBusTripLevels(under, over); });
    }
    // A disabled brake resistor is left as the device has it.
    if (doc.present({m::kIsBrakeResistorEnabled, m::kBrakeResistanceValue}) &&
        doc.get<bool>(m::kIsBrakeResistorEnabled)) {
        const auto resistance = doc.get<float>(m::kBrakeResistanceValue);
        add("enableBrakeResistor", [=](Driver& d) { return d.enableBrakeResistor(resistance); });
    }
    if (doc.present({m::kRegenCurrentTripLevel})) {
        const auto level = doc.get<float>(m::kRegenCurrentTripLevel);
        add("setRegenCurrentTripLevel", [=](Driver& d) { return d.setRegenCurrentTripLevel(level); });
    }
    if (doc.present({m::kMotorPolePairs, m::kMotorKvRating, m::kMotorCurrentLimit})) {
        const auto pole_pairs = doc.get<unsigned char>(m::kMotorPolePairs);
        const auto kv = doc.get<unsigned short>(m::kMotorKvRating);
        const auto limit = doc.get<float>(m::kMotorCurrentLimit);
        add("setMotorParameters", [=](Driver& d) { return d.setMotorParameters(pole_pairs, kv, limit); });
    }
    if (doc.present({m::kMotorEncoderType, m::kMotorEncoderResolution, m::kMotorEncoderUseIndex})) {
        const auto type = doc.get<unsigned char>(m::kMotorEncoderType);
        const auto resolution = doc.get<int>(m::kMotorEncoderResolution);
        const auto use_index = doc.get<bool>(m::kMotorEncoderUseIndex);
        add("configureMotorEncoder", [=](Driver& d) { return d.configureMotorEncoder(type, resolution, use_index); });
    }
    // Type 0 is no output encoder: the other two values do not matter then.
    if (doc.present({m::kOutputEncoderType, m::kOutputEncoderResolution, m::kOutputEncoderUseIndex})) {
        const auto type = doc.get<unsigned char>(m::kOutputEncoderType);
        if (type == 0) {
            add("disableOutputEncoder", [](Driver& d) { return d.disableOutputEncoder(); });
        } else {
            const auto resolution = doc.get<int>(m::kOutputEncoderResolution);
            const auto use_index = doc.get<bool>(m::kOutputEncoderUseIndex);
            add("configureOutputEncoder",
                [=](Driver& d) { return d.configureOutputEncoder(type, resolution, use_index); });
        }
    }
    if (doc.present({m::kGearRatio})) {
        const auto ratio = doc.get<float>(m::kGearRatio);
        add("setGearBoxParameters", [=](Driver& d) { return d.setGearBoxParameters(ratio); });
    }
    if (doc.present({m::kMotorCalibVoltage, m::kMotorCalibCurrent})) {
        const auto voltage = doc.get<float>(m::kMotorCalibVoltage);
        const auto current = doc.get<float>(m::kMotorCalibCurrent);
        add("setMotorCalibrationParameters",
            [=](Driver& d) { return d.setMotorCalibrationParameters(voltage, current); });
    }
    // A disabled thermistor's parameters are left as the device has them.
    if (doc.present({m::kIsMotorThermistorEnabled, m::kMotorThermistorRRef, m::kMotorThermistorBeta}) &&
        doc.get<bool>(m::kIsMotorThermistorEnabled)) {
        const auto r_ref = doc.get<float>(m::kMotorThermistorRRef);
        const auto beta = doc.get<unsigned short>(m::kMotorThermistorBeta);
        add("setMotorThermistorParameters", [=](Driver& d) { return d.setMotorThermistorParameters(r_ref, beta); });
    }
    if (doc.present({m::kStartupIndexSearch, m::kStartupEncoderMatching, m::kStartupClosedLoop})) {
        const auto index_search = doc.get<bool>(m::kStartupIndexSearch);
        const auto matching = doc.get<bool>(m::kStartupEncoderMatching);
        const auto closed_loop = doc.get<bool>(m::kStartupClosedLoop);
        add("setStartupConfigs",
            [=](Driver& d) { return d.setStartupConfigs(index_search, matching, closed_loop); });
    }
    if (doc.present({m::kPositionGain})) {
        const auto gain = doc.get<float>(m::kPositionGain);
        add("setPositionControllerGain", [=](Driver& d) { return d.setPositionControllerGain(gain); });
    }
    if (doc.present({m::kVelGain, m::kVelIntegratorGain})) {
        const auto gain = doc.get<float>(m::kVelGain);
        const auto integrator = doc.get<float>(m::kVelIntegratorGain);
        add("setVelocityControllerGains", [=](Driver& d) { return d.setVelocityControllerGains(gain, integrator); });
    }
    if (doc.present({m::kCurrentControllerBandwidth})) {
        const auto bandwidth = doc.get<float>(m::kCurrentControllerBandwidth);
        add("setCurrentControllerBandwidth", [=](Driver& d) { return d.setCurrentControllerBandwidth(bandwidth); });
    }
    // Last: every other setting goes out at the old rate. The value is taken as
    // a selector as it stands; the driver refuses one outside the table.
    if (doc.present({m::kCanBaudRate})) {
        const auto selector = doc.get<unsigned int>(m::kCanBaudRate);
        const auto rate = static_cast<CANBaudRate>(static_cast<int>(selector));
        add("setCANBaudRate", [=](Driver& d) { return d.setCANBaudRate(rate); });
    }
    return writes;
}

}  // namespace kinetra::config
