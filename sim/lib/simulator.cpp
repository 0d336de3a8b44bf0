#include "kinetra_sim/simulator.h"

#include "usb/slcan_codec.h"

namespace kinetra::sim {
namespace {

constexpr std::size_t kHexDigits = sizeof slcan::kUpperHexDigits - 1;
static_assert(SimulatorOptions::kMaxHosts <= kHexDigits, "a serial digit per host");
static_assert(Simulator::kMaxBuses < kHexDigits, "a serial digit per bus");

// Bus b's adapter (from 0): the first is the setup as given; the others tell
// themselves apart from other buses' adapters by hardware id and by the
// serial number's second last character (the last one tells hosts apart).
AdapterSetup busAdapter(AdapterSetup setup, std::size_t bus) {
    if (bus == 0) return setup;
    setup.hardware_id += " BUS=" + std::to_string(bus + 1);
    if (setup.serial_number.size() >= 2) {
        setup.serial_number[setup.serial_number.size() - 2] = slcan::kUpperHexDigits[bus + 1];
    }
    return setup;
}

std::string busLink(const std::string& link_path, std::size_t bus) {
    if (link_path.empty() || bus == 0) return link_path;
    return link_path + "-bus" + std::to_string(bus + 1);
}

}  // namespace

Simulator::Simulator(const std::vector<NodeSetup>& nodes, SimulatorOptions options)
    : Simulator(std::vector<BusSetup>{BusSetup{nodes, options.adapter, options.timing}}, options) {}

Simulator::Simulator(const std::vector<BusSetup>& buses, SimulatorOptions options) : options_(std::move(options)) {
    if (options_.hosts < 1 || options_.hosts > SimulatorOptions::kMaxHosts) {
        throw std::invalid_argument("a simulated bus serves 1 to " + std::to_string(SimulatorOptions::kMaxHosts) +
                                    " hosts");
    }
    if (buses.empty() || buses.size() > kMaxBuses) {
        throw std::invalid_argument("a simulator runs 1 to " + std::to_string(kMaxBuses) + " buses");
    }
    for (std::size_t index = 0; index < buses.size(); ++index) {
        BusSetup setup = buses[index];
        setup.adapter = busAdapter(setup.adapter, index);
        buses_.push_back(std::make_unique<SimulatorBus>(setup, options_.hosts, busLink(options_.link_path, index),
                                                        options_.observer, index * options_.hosts));
    }
    if (!options_.socketcan.empty()) {
        socketcan_ = std::make_unique<SocketCANEndpoint>(options_.socketcan, buses_.front()->bus());
    }
}

Simulator::~Simulator() { stop(); }

void Simulator::start() {
    if (stopped_) throw std::logic_error("a stopped simulator cannot be started again");
    if (running_) return;
    running_ = true;
    if (socketcan_) socketcan_->start();
    for (const auto& bus : buses_) bus->start();
}

void Simulator::stop() {
    if (stopped_) return;
    stopped_ = true;
    running_ = false;
    // Each bus stops its clock first: it is what pushes frames into the ports from outside.
    for (const auto& bus : buses_) bus->bus().stop();
    for (const auto& bus : buses_) bus->stop();
    if (socketcan_) socketcan_->stop();
}

const std::string& Simulator::portName() const { return buses_.front()->portName(); }

const std::string& Simulator::portOf(std::size_t bus) const { return onBus(bus).portName(); }

SimulatorBus& Simulator::onBus(std::size_t index) {
    return const_cast<SimulatorBus&>(static_cast<const Simulator*>(this)->onBus(index));
}

const SimulatorBus& Simulator::onBus(std::size_t index) const {
    if (index >= buses_.size()) {
        throw std::out_of_range("no bus " + std::to_string(index) + ": the simulator runs " +
                                std::to_string(buses_.size()));
    }
    return *buses_[index];
}

AdapterEndpoint& Simulator::host(std::size_t index) { return buses_.front()->host(index); }

void Simulator::registerAsAdapter() {
    for (const auto& bus : buses_) {
        for (std::size_t host = 0; host < bus->hosts(); ++host) bus->host(host).registerAsAdapter();
    }
}

Node& Simulator::node(uint32_t node_id) { return buses_.front()->node(node_id); }

void Simulator::unplug() { host(0).unplug(); }

void Simulator::replug() {
    if (stopped_) throw std::logic_error("a stopped simulator cannot be plugged in again");
    host(0).replug();
}

bool Simulator::plugged() const { return static_cast<const SimulatorBus&>(*buses_.front()).host(0).plugged(); }

bool Simulator::hostConnected() const { return static_cast<const SimulatorBus&>(*buses_.front()).host(0).hostConnected(); }

void Simulator::sendGarbage(unsigned lines) { adapter().sendGarbage(lines, options_.seed + garbage_batches_++); }

std::chrono::nanoseconds Simulator::adapterCpuTime() const {
    std::chrono::nanoseconds total{0};
    for (const auto& bus : buses_) total += bus->adapterCpuTime();
    return total;
}

std::chrono::nanoseconds Simulator::timingCpuTime() const {
    std::chrono::nanoseconds total{0};
    for (const auto& bus : buses_) total += bus->bus().timingCpuTime();
    return total;
}

}  // namespace kinetra::sim
