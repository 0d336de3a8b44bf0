#include "cli/shared_bus.h"

#include "cli/device_text.h"

namespace kinetra::cli {

SharedBus::SharedBus(Interface& adapter, CANBaudRate rate, std::function<void(const std::string&)> say)
    : adapter_(adapter), start_rate_(rate), rate_(rate), say_(std::move(say)) {}

SharedBus::~SharedBus() {
    for (auto& endpoint : endpoints_) endpoint->stop();
}

void SharedBus::open(std::size_t hosts, const std::string& link) {
    for (std::size_t i = 0; i < hosts; ++i) {
        kinetra::sim::AdapterSetup setup;
        // A generic SLCAN adapter: what every SLCAN client, ours included, can open.
        setup.generic = true;
        setup.bit_rate = start_rate_;
        setup.description = "Kinetra share, port " + std::to_string(i + 1);
        setup.hardware_id = "KINETRA-SHARE";
        const std::string path = link.empty() || i == 0 ? link : link + "-" + std::to_string(i + 1);
        endpoints_.push_back(std::make_unique<kinetra::sim::AdapterEndpoint>(setup, *this, path));
    }
    for (auto& endpoint : endpoints_) endpoint->start();
}

std::vector<std::string> SharedBus::portNames() const {
    std::vector<std::string> names;
    for (const auto& endpoint : endpoints_) names.push_back(endpoint->portName());
    return names;
}

void SharedBus::fromAdapter(const can_frame_data& frame) { ports_.toHosts(frame, rate_.load(), nullptr); }

void SharedBus::deliverFromHost(const can_frame_data& frame, CANBaudRate rate, const kinetra::sim::HostPort& sender) {
    if (rate != rate_.load()) return;
    can_frame_data copy = frame;
    adapter_.sendFrame(&copy);
    ports_.toHosts(frame, rate, &sender);
}

bool SharedBus::allowsBitRate(const kinetra::sim::HostPort& port, CANBaudRate rate) {
    std::lock_guard<std::mutex> lock(rate_mutex_);
    if (holder_ != nullptr && holder_ != &port && !endpoints_[numberOf(*holder_) - 1]->hostConnected()) {
        holder_ = nullptr;  // its program has gone
    }
    if (rate == rate_.load()) return true;
    if (holder_ != nullptr && holder_ != &port) {
        say_("port " + std::to_string(numberOf(port)) + " asked for " + bitRateName(rate) + ": refused, port " +
             std::to_string(numberOf(*holder_)) + " holds the bus at " + bitRateName(rate_.load()) +
             " (one port at a time changes the bit rate)");
        return false;
    }
    if (adapter_.setCANBaudRate(rate) != RET_INTERFACE_OK) {
        say_("port " + std::to_string(numberOf(port)) + " asked for " + bitRateName(rate) +
             ": refused, the adapter did not take it");
        return false;
    }
    rate_ = rate;
    holder_ = rate == start_rate_ ? nullptr : &port;
    return true;
}

std::size_t SharedBus::numberOf(const kinetra::sim::HostPort& port) const {
    for (std::size_t i = 0; i < endpoints_.size(); ++i) {
        if (&endpoints_[i]->adapter() == &port) return i + 1;
    }
    return 0;
}

}  // namespace kinetra::cli
