#include "dashboard/telemetry_sampler.h"

#include <kinetra/actuator.h>
#include <kinetra/control_cycle.h>
#include <kinetra/driver.h>
#include <kinetra/imu.h>
#include <kinetra/vorlex.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace kinetra::dashboard {

namespace {

constexpr double kNoReply = std::numeric_limits<double>::quiet_NaN();

// The motor channels: the cycle-read ones first, in kMotorCycleReadings' order.
const std::vector<Channel> kMotorChannels = {
    {"position", "turns"},      {"velocity", "turns/s"},    {"torque", "Nm"},
    {"output_position", "turns"}, {"bus_voltage", "V"},     {"motor_temperature", "degC"},
    {"bus_current", "A"},       {"driver_temperature", "degC"},
};
constexpr MotorReading kMotorCycleReadings[] = {MotorReading::MotorPosition, MotorReading::MotorVelocity,
                                                MotorReading::MotorTorque, MotorReading::OutputPosition,
                                                MotorReading::BusVoltage, MotorReading::MotorTemperature};
constexpr std::size_t kFastCycles = 4;  ///< the first readings, read every round
constexpr std::size_t kCycleCount = std::size(kMotorCycleReadings);
constexpr std::size_t kBusCurrent = 6;
constexpr std::size_t kDriverTemperature = 7;

const std::vector<Channel> kImuChannels = {
    {"roll", "deg"}, {"pitch", "deg"}, {"yaw", "deg"}, {"rate_x", "rad/s"}, {"rate_y", "rad/s"}, {"rate_z", "rad/s"},
};
const std::vector<Channel> kEncoderChannels = {
    {"angle", "deg"}, {"multiturn_angle", "deg"}, {"velocity", "deg/s"},
};
const std::vector<Channel> kNoChannels;

double valueOr(ret_status_t status, float value) { return status == RET_OK ? static_cast<double>(value) : kNoReply; }

/// A motor proxy of either class with its slot in the cycles and its values.
struct Motor {
    unsigned node = 0;
    std::unique_ptr<Driver> driver;
    std::unique_ptr<Actuator> actuator;
    float read[kCycleCount] = {};
    std::size_t index[kCycleCount] = {};
    std::vector<double> values = std::vector<double>(kMotorChannels.size(), kNoReply);

    template <typename Action>
    auto with(Action action) {
        return driver ? action(*driver) : action(*actuator);
    }
};

unsigned long errorOf(Driver& driver, ret_status_t* status) {
    driver_error_t error{};
    *status = driver.getErrorCode(&error);
    return static_cast<unsigned long>(error);
}
unsigned long errorOf(Actuator& actuator, ret_status_t* status) {
    unsigned int error = 0;
    *status = actuator.getErrorCode(&error);
    return error;
}

}  // namespace

const std::vector<Channel>& channelsOf(cli::DeviceClass device_class) {
    switch (device_class) {
        case cli::DeviceClass::Driver:
        case cli::DeviceClass::Actuator: return kMotorChannels;
        case cli::DeviceClass::Imu: return kImuChannels;
        case cli::DeviceClass::Encoder: return kEncoderChannels;
        case cli::DeviceClass::Unknown: break;
    }
    return kNoChannels;
}

struct TelemetrySampler::Impl {
    Interface& bus;
    std::vector<std::unique_ptr<Motor>> motors;
    std::vector<std::pair<unsigned, std::unique_ptr<IMU>>> imus;
    std::vector<std::pair<unsigned, std::unique_ptr<Vorlex>>> encoders;
    // One cycle per reading: a cycle reads each proxy at most once.
    std::vector<std::unique_ptr<ControlCycle>> cycles;
    unsigned round = 0;

    explicit Impl(Interface& b) : bus(b) {}
};

TelemetrySampler::TelemetrySampler(Interface& bus) : impl_(std::make_unique<Impl>(bus)) {}
TelemetrySampler::~TelemetrySampler() = default;

void TelemetrySampler::setNodes(const std::map<unsigned, unsigned>& nodes, double rate_hz) {
    Impl& s = *impl_;
    s.cycles.clear();
    s.motors.clear();
    s.imus.clear();
    s.encoders.clear();
    s.round = 0;
    for (std::size_t i = 0; i < kCycleCount; ++i) s.cycles.push_back(std::make_unique<ControlCycle>(&s.bus));
    const auto period_ms = static_cast<unsigned short>(std::clamp(std::lround(1000.0 / rate_hz), 1L, 1000L));
    for (const auto& [node, type] : nodes) {
        switch (cli::classOfType(type)) {
            case cli::DeviceClass::Driver:
            case cli::DeviceClass::Actuator: {
                auto motor = std::make_unique<Motor>();
                motor->node = node;
                if (cli::classOfType(type) == cli::DeviceClass::Driver) {
                    motor->driver = std::make_unique<Driver>(node, &s.bus);
                } else {
                    motor->actuator = std::make_unique<Actuator>(node, &s.bus);
                }
                for (std::size_t i = 0; i < kCycleCount; ++i) {
                    motor->index[i] = motor->with([&](auto& proxy) {
                        return s.cycles[i]->add(proxy, kMotorCycleReadings[i], &motor->read[i]);
                    });
                }
                s.motors.push_back(std::move(motor));
                break;
            }
            case cli::DeviceClass::Imu: {
                auto imu = std::make_unique<IMU>(node, &s.bus);
                imu->enableRotationVector(period_ms);
                imu->enableGyro(period_ms);
                s.imus.emplace_back(node, std::move(imu));
                break;
            }
            case cli::DeviceClass::Encoder:
                s.encoders.emplace_back(node, std::make_unique<Vorlex>(node, &s.bus));
                break;
            case cli::DeviceClass::Unknown: break;
        }
    }
}

std::vector<NodeSample> TelemetrySampler::sample() {
    Impl& s = *impl_;
    const bool slow = s.round++ % kSlowChannelEvery == 0;
    std::vector<NodeSample> samples;
    if (!s.motors.empty()) {
        for (std::size_t i = 0; i < (slow ? kCycleCount : kFastCycles); ++i) s.cycles[i]->run();
        for (auto& motor : s.motors) {
            for (std::size_t i = 0; i < (slow ? kCycleCount : kFastCycles); ++i) {
                motor->values[i] = valueOr(s.cycles[i]->status(motor->index[i]), motor->read[i]);
            }
            if (slow) {
                float value = 0;
                motor->values[kBusCurrent] = valueOr(motor->with([&](auto& p) { return p.getBusCurrent(&value); }), value);
                motor->values[kDriverTemperature] =
                    valueOr(motor->with([&](auto& p) { return p.getDriverTemperature(&value); }), value);
            }
            samples.push_back({motor->node, motor->values});
        }
    }
    for (auto& [node, imu] : s.imus) {
        float roll = 0, pitch = 0, yaw = 0, x = 0, y = 0, z = 0;
        unsigned char accuracy = 0;
        const ret_status_t euler = imu->getEulerAngles(&roll, &pitch, &yaw);
        const ret_status_t gyro = imu->getGyroData(&x, &y, &z, &accuracy);
        samples.push_back({node,
                           {valueOr(euler, roll), valueOr(euler, pitch), valueOr(euler, yaw), valueOr(gyro, x),
                            valueOr(gyro, y), valueOr(gyro, z)}});
    }
    for (auto& [node, encoder] : s.encoders) {
        float angle = 0, turns = 0, velocity = 0;
        const ret_status_t a = encoder->getAbsoluteAngle(&angle);
        const ret_status_t m = encoder->getMultiturnAngle(&turns);
        const ret_status_t v = encoder->getScaledFilteredVelocity(&velocity);
        samples.push_back({node, {valueOr(a, angle), valueOr(m, turns), valueOr(v, velocity)}});
    }
    return samples;
}

Driver* TelemetrySampler::driver(unsigned node) {
    for (auto& motor : impl_->motors) {
        if (motor->node == node) return motor->driver.get();
    }
    return nullptr;
}

Actuator* TelemetrySampler::actuator(unsigned node) {
    for (auto& motor : impl_->motors) {
        if (motor->node == node) return motor->actuator.get();
    }
    return nullptr;
}

Vorlex* TelemetrySampler::encoder(unsigned node) {
    for (auto& [id, encoder] : impl_->encoders) {
        if (id == node) return encoder.get();
    }
    return nullptr;
}

std::vector<NodeStatus> TelemetrySampler::status() {
    std::vector<NodeStatus> result;
    for (auto& motor : impl_->motors) {
        NodeStatus status;
        status.node = motor->node;
        unsigned char state = 0;
        unsigned int fault = 0;
        ret_status_t error_status = RET_OK;
        motor->with([&](auto& proxy) {
            const bool state_ok = proxy.getControllerState(&state) == RET_OK;
            status.error = errorOf(proxy, &error_status);
            const bool fault_ok = proxy.getDriverFault(&fault) == RET_OK;
            status.answered = state_ok && fault_ok && error_status == RET_OK;
            return 0;
        });
        status.state = state;
        status.fault = fault;
        result.push_back(status);
    }
    return result;
}

}  // namespace kinetra::dashboard
