#include "kinetra_sim/simulator.h"

#include "kinetra_sim/node_factory.h"

#include "usb/slcan_codec.h"

namespace kinetra::sim {
namespace {

static_assert(SimulatorOptions::kMaxHosts <= sizeof slcan::kUpperHexDigits - 1, "a serial digit per host");

// Host k's adapter (from 0): the first is the setup as given; the others tell
// themselves apart by hardware id and serial number, as separate adapters do.
AdapterSetup hostSetup(AdapterSetup setup, std::size_t index) {
    if (index == 0) return setup;
    const std::string number = std::to_string(index + 1);
    setup.hardware_id += "-" + number;
    // One hex digit: distinct for every host up to kMaxHosts.
    if (!setup.serial_number.empty()) {
        setup.serial_number.back() = slcan::kUpperHexDigits[(index + 1) % SimulatorOptions::kMaxHosts];
    }
    return setup;
}

std::string hostLink(const std::string& link_path, std::size_t index) {
    if (link_path.empty() || index == 0) return link_path;
    return link_path + "-" + std::to_string(index + 1);
}

// Tags each event with the host whose adapter saw it.
TrafficObserver hostObserver(const TrafficObserver& observer, std::size_t index) {
    if (!observer) return {};
    return [observer, index](const TrafficEvent& event) {
        TrafficEvent tagged = event;
        tagged.host = index;
        observer(tagged);
    };
}

}  // namespace

Simulator::Simulator(const std::vector<NodeSetup>& nodes, SimulatorOptions options) : options_(std::move(options)) {
    if (options_.hosts < 1 || options_.hosts > SimulatorOptions::kMaxHosts) {
        throw std::invalid_argument("a simulated bus serves 1 to " + std::to_string(SimulatorOptions::kMaxHosts) +
                                    " hosts");
    }
    for (const NodeSetup& setup : nodes) bus_.addNode(makeNode(setup));
    bus_.setTiming(options_.timing);
    for (std::size_t index = 0; index < options_.hosts; ++index) {
        hosts_.push_back(std::make_unique<AdapterEndpoint>(hostSetup(options_.adapter, index), bus_,
                                                           hostLink(options_.link_path, index),
                                                           hostObserver(options_.observer, index)));
    }
    if (!options_.socketcan.empty()) {
        socketcan_ = std::make_unique<SocketCANEndpoint>(options_.socketcan, bus_);
    }
}

Simulator::~Simulator() { stop(); }

void Simulator::start() {
    if (stopped_) throw std::logic_error("a stopped simulator cannot be started again");
    if (running_) return;
    running_ = true;
    for (const auto& host : hosts_) host->start();
    if (socketcan_) socketcan_->start();
    bus_.start();
}

void Simulator::stop() {
    if (stopped_) return;
    stopped_ = true;
    running_ = false;
    // The clock first: it is what pushes frames into the ports from outside.
    bus_.stop();
    for (const auto& host : hosts_) host->stop();
    if (socketcan_) socketcan_->stop();
}

const std::string& Simulator::portName() const { return hosts_.front()->portName(); }

AdapterEndpoint& Simulator::host(std::size_t index) {
    if (index >= hosts_.size()) {
        throw std::out_of_range("no host " + std::to_string(index) + ": the bus serves " +
                                std::to_string(hosts_.size()));
    }
    return *hosts_[index];
}

void Simulator::registerAsAdapter() {
    for (const auto& host : hosts_) host->registerAsAdapter();
}

Node& Simulator::node(uint32_t node_id) {
    if (Node* found = bus_.find(node_id)) return *found;
    throw std::out_of_range("no simulated node " + std::to_string(node_id));
}

void Simulator::unplug() { hosts_.front()->unplug(); }

void Simulator::replug() {
    if (stopped_) throw std::logic_error("a stopped simulator cannot be plugged in again");
    hosts_.front()->replug();
}

bool Simulator::plugged() const { return hosts_.front()->plugged(); }

bool Simulator::hostConnected() const { return hosts_.front()->hostConnected(); }

void Simulator::sendGarbage(unsigned lines) {
    hosts_.front()->adapter().sendGarbage(lines, options_.seed + garbage_batches_++);
}

std::chrono::nanoseconds Simulator::adapterCpuTime() const {
    std::chrono::nanoseconds total{0};
    for (const auto& host : hosts_) total += host->ioCpuTime();
    return total;
}

}  // namespace kinetra::sim
