#include "kinetra_sim/simulator.h"

#include "kinetra_sim/node_factory.h"
#include "pty_port.h"

#include <kinetra/serial/serial.h>

namespace kinetra::sim {

Simulator::Simulator(const std::vector<NodeSetup>& nodes, SimulatorOptions options)
    : options_(std::move(options)), pty_(std::make_unique<PtyPort>()) {
    for (const NodeSetup& setup : nodes) bus_.addNode(makeNode(setup));
    bus_.setTiming(options_.timing);
    adapter_ = std::make_unique<AdapterProtocol>(options_.adapter, *pty_, bus_);
    adapter_->setObserver(options_.observer);
    bus_.connect(adapter_.get());
}

Simulator::~Simulator() { stop(); }

void Simulator::start() {
    if (stopped_) throw std::logic_error("a stopped simulator cannot be started again");
    if (running_) return;
    running_ = true;
    pty_->start([adapter = adapter_.get()](const char* data, std::size_t size) { adapter->feed(data, size); });
    bus_.start();
}

void Simulator::stop() {
    if (stopped_) return;
    stopped_ = true;
    running_ = false;
    // The clock first: it is what pushes frames into the port from outside.
    bus_.stop();
    pty_->stop();
    bus_.connect(nullptr);
    withdrawRegistration();
}

const std::string& Simulator::portName() const { return pty_->slavePath(); }

void Simulator::registerAsAdapter() {
    serial::register_virtual_port(
        serial::PortInfo{pty_->slavePath(), options_.adapter.description, options_.adapter.hardware_id});
    registered_ = true;
}

void Simulator::withdrawRegistration() {
    if (!registered_) return;
    serial::unregister_virtual_port(pty_->slavePath());
    registered_ = false;
}

Node& Simulator::node(uint32_t node_id) {
    if (Node* found = bus_.find(node_id)) return *found;
    throw std::out_of_range("no simulated node " + std::to_string(node_id));
}

void Simulator::unplug() {
    pty_->unplug();
    // An unplugged adapter vanishes from the port list as well.
    withdrawRegistration();
}

bool Simulator::plugged() const { return pty_->plugged(); }

bool Simulator::hostConnected() const { return pty_->hostConnected(); }

void Simulator::sendGarbage(unsigned lines) { adapter_->sendGarbage(lines, options_.seed + garbage_batches_++); }

std::chrono::nanoseconds Simulator::adapterCpuTime() const { return pty_->ioCpuTime(); }

}  // namespace kinetra::sim
