#include "config/config_import_plan.h"

#include "config/config_members.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <type_traits>

namespace kinetra::config {
namespace {

using nlohmann::json;

/// A member's value with the JSON library's conversions, except that a
/// fractional number read as an integer is truncated toward zero and then wraps
/// like an integral one would (beyond the 64-bit range it saturates first):
/// a plain cast would be undefined for values out of the target's range.
template <typename T>
T valueAs(const json& value) {
    if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
        if (value.is_number_float()) {
            const double number = std::trunc(value.get<double>());
            constexpr double kLimit = 9223372036854775807.0;  // 2^63, just past int64's maximum
            int64_t integral = 0;
            if (number >= kLimit) {
                integral = std::numeric_limits<int64_t>::max();
            } else if (number <= -kLimit) {
                integral = std::numeric_limits<int64_t>::min();
            } else if (!std::isnan(number)) {
                integral = static_cast<int64_t>(number);
            }
            return static_cast<T>(integral);
        }
    }
    return value.get<T>();
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
        return valueAs<T>(model_->at(name));
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
