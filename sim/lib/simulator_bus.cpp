#include "kinetra_sim/simulator_bus.h"

#include "kinetra_sim/node_factory.h"

#include "usb/slcan_codec.h"

#include <stdexcept>

namespace kinetra::sim {
namespace {

// One hex digit of the serial number tells hosts apart.
constexpr std::size_t kHostDigits = sizeof slcan::kUpperHexDigits - 1;

// Host k's adapter (from 0): the first is the setup as given; the others tell
// themselves apart by hardware id and serial number, as separate adapters do.
AdapterSetup hostSetup(AdapterSetup setup, std::size_t index) {
    if (index == 0) return setup;
    const std::string number = std::to_string(index + 1);
    setup.hardware_id += "-" + number;
    if (!setup.serial_number.empty()) setup.serial_number.back() = slcan::kUpperHexDigits[(index + 1) % kHostDigits];
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

SimulatorBus::SimulatorBus(const BusSetup& setup, std::size_t hosts, const std::string& link_path,
                           const TrafficObserver& observer, std::size_t host_offset) {
    for (const NodeSetup& node : setup.nodes) bus_.addNode(makeNode(node));
    bus_.setTiming(setup.timing);
    for (std::size_t index = 0; index < hosts; ++index) {
        hosts_.push_back(std::make_unique<AdapterEndpoint>(hostSetup(setup.adapter, index), bus_,
                                                           hostLink(link_path, index),
                                                           hostObserver(observer, host_offset + index)));
    }
}

SimulatorBus::~SimulatorBus() { stop(); }

void SimulatorBus::start() {
    for (const auto& host : hosts_) host->start();
    bus_.start();
}

void SimulatorBus::stop() {
    bus_.stop();
    for (const auto& host : hosts_) host->stop();
}

AdapterEndpoint& SimulatorBus::host(std::size_t index) {
    return const_cast<AdapterEndpoint&>(static_cast<const SimulatorBus*>(this)->host(index));
}

const AdapterEndpoint& SimulatorBus::host(std::size_t index) const {
    if (index >= hosts_.size()) {
        throw std::out_of_range("no host " + std::to_string(index) + ": the bus serves " +
                                std::to_string(hosts_.size()));
    }
    return *hosts_[index];
}

Node& SimulatorBus::node(uint32_t node_id) {
    if (Node* found = bus_.find(node_id)) return *found;
    throw std::out_of_range("no simulated node " + std::to_string(node_id));
}

std::chrono::nanoseconds SimulatorBus::adapterCpuTime() const {
    std::chrono::nanoseconds total{0};
    for (const auto& host : hosts_) total += host->ioCpuTime();
    return total;
}

}  // namespace kinetra::sim
