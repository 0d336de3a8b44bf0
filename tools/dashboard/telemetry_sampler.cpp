#include "dashboard/telemetry_sampler.h"

#include <kinetra/actuator.h>
#include <kinetra/control_cycle.h>
#include <kinetra/driver.h>
#include <kinetra/imu.h>
#include <kinetra/vorlex.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace kinetra::dashboard {

namespace {

constexpr double kNoReply = std::numeric_limits<double>::quiet_NaN();

// The motor channels: the fast ones first, in kMotorFastReadings' order, then
// the two values of each slow reading where they fall.
const std::vector<Channel> kMotorChannels = {
    {"position", "turns"},      {"velocity", "turns/s"},    {"torque", "Nm"},
    {"output_position", "turns"}, {"bus_voltage", "V"},     {"motor_temperature", "degC"},
    {"bus_current", "A"},       {"driver_temperature", "degC"},
};
constexpr MotorReading kMotorFastReadings[] = {MotorReading::MotorPosition, MotorReading::MotorVelocity,
                                               MotorReading::MotorTorque, MotorReading::OutputPosition};
constexpr std::size_t kFastReads = std::size(kMotorFastReadings);
constexpr std::size_t kBusVoltage = 4;
constexpr std::size_t kMotorTemperature = 5;
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

// A round runs one cycle: the fast reads alone, or every kSlowChannelEvery-th
// round the fast and the slow reads together, so each round costs one round
// trip of the bus whatever it reads. A fast read is an entry of both cycles.
enum CycleKind : std::size_t { kFast, kFull, kCycleKinds };
using EntryIndex = std::array<std::size_t, kCycleKinds>;

/// A motor proxy of either class with its entries in the cycles and its values.
struct Motor {
    unsigned node = 0;
    std::unique_ptr<Driver> driver;
    std::unique_ptr<Actuator> actuator;
    float fast[kFastReads] = {};
    EntryIndex fast_index[kFastReads] = {};
    float voltage_current[2] = {};
    float temperatures[2] = {};
    std::size_t voltage_current_index = 0;  ///< in the full cycle
    std::size_t temperatures_index = 0;     ///< in the full cycle
    std::vector<double> values = std::vector<double>(kMotorChannels.size(), kNoReply);
    // The status reads, in the status cycle.
    unsigned char state = 0;
    unsigned int error = 0;
    unsigned int fault = 0;
    std::size_t status_index[3] = {};

    template <typename Action>
    auto with(Action action) {
        return driver ? action(*driver) : action(*actuator);
    }
};

struct Imu {
    unsigned node = 0;
    std::unique_ptr<IMU> proxy;
    float euler[3] = {};
    float rate[3] = {};
    unsigned char rate_status = 0;
    EntryIndex euler_index = {};
    EntryIndex rate_index = {};
};

struct Encoder {
    unsigned node = 0;
    std::unique_ptr<Vorlex> proxy;
    float angle = 0, turns = 0, velocity = 0;
    EntryIndex index[3] = {};
};

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
    std::vector<std::unique_ptr<Imu>> imus;
    std::vector<std::unique_ptr<Encoder>> encoders;
    std::unique_ptr<ControlCycle> cycles[kCycleKinds];
    std::unique_ptr<ControlCycle> status_cycle;
    unsigned round = 0;

    explicit Impl(Interface& b) : bus(b) {}

    /// Adds one fast read to both cycles.
    template <typename Add>
    EntryIndex addFast(Add add) {
        EntryIndex index{};
        for (std::size_t kind = 0; kind < kCycleKinds; ++kind) index[kind] = add(*cycles[kind]);
        return index;
    }
    double fastValue(const EntryIndex& index, CycleKind ran, float value) const {
        return valueOr(cycles[ran]->status(index[ran]), value);
    }
};

TelemetrySampler::TelemetrySampler(Interface& bus) : impl_(std::make_unique<Impl>(bus)) {}
TelemetrySampler::~TelemetrySampler() = default;

void TelemetrySampler::setNodes(const std::map<unsigned, unsigned>& nodes, double rate_hz) {
    Impl& s = *impl_;
    // The cycles go before the proxies they hold entries of.
    for (auto& cycle : s.cycles) cycle = std::make_unique<ControlCycle>(&s.bus);
    s.status_cycle = std::make_unique<ControlCycle>(&s.bus);
    s.motors.clear();
    s.imus.clear();
    s.encoders.clear();
    s.round = 0;
    const auto period_ms = static_cast<unsigned short>(std::clamp(std::lround(1000.0 / rate_hz), 1L, 1000L));
    for (const auto& [node, type] : nodes) {
        switch (cli::classOfType(type)) {
            case cli::DeviceClass::Driver:
            case cli::DeviceClass::Actuator: {
                auto motor = std::make_unique<Motor>();
                Motor& m = *motor;
                m.node = node;
                if (cli::classOfType(type) == cli::DeviceClass::Driver) {
                    m.driver = std::make_unique<Driver>(node, &s.bus);
                } else {
                    m.actuator = std::make_unique<Actuator>(node, &s.bus);
                }
                m.with([&](auto& proxy) {
                    for (std::size_t i = 0; i < kFastReads; ++i) {
                        m.fast_index[i] = s.addFast(
                            [&](ControlCycle& cycle) { return cycle.add(proxy, kMotorFastReadings[i], &m.fast[i]); });
                    }
                    ControlCycle& full = *s.cycles[kFull];
                    m.voltage_current_index = full.add(proxy, MotorReading::BusVoltageCurrent,
                                                       {&m.voltage_current[0], &m.voltage_current[1]});
                    m.temperatures_index =
                        full.add(proxy, MotorReading::Temperatures, {&m.temperatures[0], &m.temperatures[1]});
                    m.status_index[0] = s.status_cycle->add(proxy, MotorReading::ControllerState, {&m.state});
                    m.status_index[1] = s.status_cycle->add(proxy, MotorReading::ErrorCode, {&m.error});
                    m.status_index[2] = s.status_cycle->add(proxy, MotorReading::DriverFault, {&m.fault});
                    return 0;
                });
                s.motors.push_back(std::move(motor));
                break;
            }
            case cli::DeviceClass::Imu: {
                auto imu = std::make_unique<Imu>();
                imu->node = node;
                imu->proxy = std::make_unique<IMU>(node, &s.bus);
                imu->proxy->enableRotationVector(period_ms);
                imu->proxy->enableGyro(period_ms);
                Imu& i = *imu;
                i.euler_index = s.addFast([&](ControlCycle& cycle) {
                    return cycle.add(*i.proxy, ImuReading::EulerAngles, {&i.euler[0], &i.euler[1], &i.euler[2]});
                });
                i.rate_index = s.addFast([&](ControlCycle& cycle) {
                    return cycle.add(*i.proxy, ImuReading::Gyro, {&i.rate[0], &i.rate[1], &i.rate[2], &i.rate_status});
                });
                s.imus.push_back(std::move(imu));
                break;
            }
            case cli::DeviceClass::Encoder: {
                auto encoder = std::make_unique<Encoder>();
                encoder->node = node;
                encoder->proxy = std::make_unique<Vorlex>(node, &s.bus);
                Encoder& e = *encoder;
                e.index[0] = s.addFast([&](ControlCycle& c) { return c.add(*e.proxy, EncoderReading::AbsoluteAngle, {&e.angle}); });
                e.index[1] = s.addFast([&](ControlCycle& c) { return c.add(*e.proxy, EncoderReading::MultiturnAngle, {&e.turns}); });
                e.index[2] = s.addFast(
                    [&](ControlCycle& c) { return c.add(*e.proxy, EncoderReading::ScaledFilteredVelocity, {&e.velocity}); });
                s.encoders.push_back(std::move(encoder));
                break;
            }
            case cli::DeviceClass::Unknown: break;
        }
    }
}

std::vector<NodeSample> TelemetrySampler::sample() {
    Impl& s = *impl_;
    std::vector<NodeSample> samples;
    if (!s.cycles[kFast]) return samples;
    const CycleKind ran = s.round++ % kSlowChannelEvery == 0 ? kFull : kFast;
    s.cycles[ran]->run();
    const ControlCycle& cycle = *s.cycles[ran];
    for (auto& motor : s.motors) {
        for (std::size_t i = 0; i < kFastReads; ++i) motor->values[i] = s.fastValue(motor->fast_index[i], ran, motor->fast[i]);
        if (ran == kFull) {
            const ret_status_t power = cycle.status(motor->voltage_current_index);
            const ret_status_t heat = cycle.status(motor->temperatures_index);
            motor->values[kBusVoltage] = valueOr(power, motor->voltage_current[0]);
            motor->values[kBusCurrent] = valueOr(power, motor->voltage_current[1]);
            motor->values[kMotorTemperature] = valueOr(heat, motor->temperatures[0]);
            motor->values[kDriverTemperature] = valueOr(heat, motor->temperatures[1]);
        }
        samples.push_back({motor->node, motor->values});
    }
    for (auto& imu : s.imus) {
        std::vector<double> values;
        for (float v : imu->euler) values.push_back(s.fastValue(imu->euler_index, ran, v));
        for (float v : imu->rate) values.push_back(s.fastValue(imu->rate_index, ran, v));
        samples.push_back({imu->node, std::move(values)});
    }
    for (auto& encoder : s.encoders) {
        samples.push_back({encoder->node,
                           {s.fastValue(encoder->index[0], ran, encoder->angle),
                            s.fastValue(encoder->index[1], ran, encoder->turns),
                            s.fastValue(encoder->index[2], ran, encoder->velocity)}});
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
    for (auto& encoder : impl_->encoders) {
        if (encoder->node == node) return encoder->proxy.get();
    }
    return nullptr;
}

std::vector<NodeStatus> TelemetrySampler::status() {
    Impl& s = *impl_;
    std::vector<NodeStatus> result;
    if (s.motors.empty()) return result;
    s.status_cycle->run();
    for (auto& motor : s.motors) {
        NodeStatus status;
        status.node = motor->node;
        status.answered = true;
        for (std::size_t index : motor->status_index) {
            status.answered = status.answered && s.status_cycle->status(index) == RET_OK;
        }
        status.state = motor->state;
        status.error = motor->error;
        status.fault = motor->fault;
        result.push_back(status);
    }
    return result;
}

}  // namespace kinetra::dashboard
