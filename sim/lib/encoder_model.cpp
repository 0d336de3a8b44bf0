#include "kinetra_sim/encoder_model.h"

#include "sim_math.h"

#include "devices/protocol/sensor_chip.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace kinetra::sim {
namespace {

template <typename Samples>
void keepLast(Samples& samples, std::size_t count) {
    while (samples.size() > count) samples.pop_front();
}

double mean(const std::deque<double>& samples) {
    return std::accumulate(samples.begin(), samples.end(), 0.0) / static_cast<double>(samples.size());
}

}  // namespace

void SensorRegisters::reset() {
    values_.fill(0);
    // The chip's filter window register comes up at its middle setting.
    values_[protocol::sensor_chip::kMAxxxRegFilterWindow] = 0x77;
    stored_ = values_;
}

void SensorRegisters::write(uint8_t address, uint8_t value) {
    if (address == protocol::sensor_chip::kMAxxxRegStore) {
        if (value == 1) stored_ = values_;
        return;
    }
    values_[address] = value;
}

EncoderModel::EncoderModel() { restartTurnCount(); }

void EncoderModel::setShaftRate(double degrees_per_second) {
    if (std::isfinite(degrees_per_second)) rate_ = degrees_per_second;
}

void EncoderModel::setShaftAcceleration(double degrees_per_second2) {
    if (std::isfinite(degrees_per_second2)) acceleration_ = degrees_per_second2;
}

void EncoderModel::setShaftAngle(double degrees) {
    if (std::isfinite(degrees)) angle_ = degrees;
}

void EncoderModel::advance(double seconds) {
    if (!(seconds > 0.0)) return;
    // The firmware samples the shaft at every whole sample period; only the last
    // `filter_window` samples matter, so a long step costs no more than a short one.
    const double first = kSamplePeriod - pending_time_;
    const auto samples = static_cast<uint64_t>(std::floor((pending_time_ + seconds) / kSamplePeriod));
    const uint64_t kept = std::min<uint64_t>(samples, settings_.filter_window);
    for (uint64_t k = samples - kept; k < samples; ++k) {
        const double at = first + static_cast<double>(k) * kSamplePeriod;
        velocity_samples_.push_back(rate_ + acceleration_ * at);
        acceleration_samples_.push_back(acceleration_);
    }
    keepLast(velocity_samples_, settings_.filter_window);
    keepLast(acceleration_samples_, settings_.filter_window);
    pending_time_ = std::fmod(pending_time_ + seconds, kSamplePeriod);

    angle_ += rate_ * seconds + 0.5 * acceleration_ * seconds * seconds;
    rate_ += acceleration_ * seconds;
}

double EncoderModel::measuredAngle() const {
    const double error = angle_error_ ? angle_error_(wrap360(angle_), registers_) : 0.0;
    return angle_ + error;
}

double EncoderModel::directedAngle() const { return sign() * (measuredAngle() - origin_); }

float EncoderModel::absoluteAngle() const { return static_cast<float>(wrap360(directedAngle())); }

float EncoderModel::multiturnAngle() const { return static_cast<float>(directedAngle()); }

int32_t EncoderModel::count() const {
    const double per_turn = settings_.resolution > 0 ? settings_.resolution : double(kRawCountsPerTurn);
    const double counts = std::floor(directedAngle() / 360.0 * per_turn);
    // Beyond 2^62 counts (never reached at any sane rate) the count would not be
    // representable; such a shaft reads 0 rather than overflowing.
    const int64_t whole = std::fabs(counts) < 4.6e18 ? static_cast<int64_t>(counts) : 0;
    const auto counted = whole + count_offset_;
    // The firmware's counter is 32 bits wide and wraps.
    return static_cast<int32_t>(static_cast<uint32_t>(counted));
}

uint32_t EncoderModel::rawData() const {
    const auto word = static_cast<uint32_t>(wrap360(measuredAngle()) / 360.0 * kRawCountsPerTurn);
    return word % kRawCountsPerTurn;
}

float EncoderModel::rawVelocity() const { return static_cast<float>(sign() * rate_); }

float EncoderModel::filteredVelocity() const {
    if (velocity_samples_.empty()) return rawVelocity();
    return static_cast<float>(sign() * mean(velocity_samples_));
}

float EncoderModel::rawAcceleration() const { return static_cast<float>(sign() * acceleration_); }

float EncoderModel::filteredAcceleration() const {
    if (acceleration_samples_.empty()) return rawAcceleration();
    return static_cast<float>(sign() * mean(acceleration_samples_));
}

void EncoderModel::configure(uint8_t type, int32_t resolution) {
    settings_.type = type;
    settings_.resolution = resolution;
}

void EncoderModel::setDirection(uint8_t direction) { settings_.direction = direction; }

void EncoderModel::setFilterWindow(uint32_t samples) {
    settings_.filter_window = std::clamp<uint32_t>(samples, 1, kMaxFilterWindow);
    keepLast(velocity_samples_, settings_.filter_window);
    keepLast(acceleration_samples_, settings_.filter_window);
}

void EncoderModel::setLinearCount(uint32_t count) {
    count_offset_ = 0;
    count_offset_ = static_cast<int64_t>(static_cast<int32_t>(count)) - static_cast<int64_t>(this->count());
}

void EncoderModel::zeroHere() {
    const double measured = measuredAngle();
    settings_.zero_position = static_cast<float>(wrap360(measured));
    origin_ = measured;
    count_offset_ = 0;
}

void EncoderModel::erase() {
    settings_ = EncoderSettings{};
    saved_ = settings_;
    restartTurnCount();
}

void EncoderModel::reboot() {
    settings_ = saved_;
    registers_.powerUp();
    restartTurnCount();
    count_offset_ = 0;
    velocity_samples_.clear();
    acceleration_samples_.clear();
}

void EncoderModel::restartTurnCount() {
    const double measured = measuredAngle();
    const double zero = settings_.zero_position;
    origin_ = zero + 360.0 * std::floor((measured - zero) / 360.0);
}

}  // namespace kinetra::sim
