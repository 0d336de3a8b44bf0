#include "kinetra_sim/simulator.h"

#include "kinetra_sim/node_factory.h"
#include "host_wire_relay.h"
#include "pty_port.h"

#include <kinetra/serial/serial.h>

#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace kinetra::sim {

Simulator::Simulator(const std::vector<NodeSetup>& nodes, SimulatorOptions options)
    : options_(std::move(options)), relay_(std::make_unique<HostWireRelay>()), pty_(std::make_unique<PtyPort>()) {
    port_name_ = options_.link_path.empty() ? pty_->slavePath() : options_.link_path;
    for (const NodeSetup& setup : nodes) bus_.addNode(makeNode(setup));
    bus_.setTiming(options_.timing);
    relay_->connect(pty_.get());
    adapter_ = std::make_unique<AdapterProtocol>(options_.adapter, *relay_, bus_);
    adapter_->setObserver(options_.observer);
    bus_.connect(adapter_.get());
    makeLink();
}

Simulator::~Simulator() { stop(); }

void Simulator::start() {
    if (stopped_) throw std::logic_error("a stopped simulator cannot be started again");
    if (running_) return;
    running_ = true;
    startPty();
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
    removeLink();
}

const std::string& Simulator::portName() const { return port_name_; }

void Simulator::registerAsAdapter() {
    wants_registration_ = true;
    registerPort();
}

void Simulator::registerPort() {
    if (registered_) return;
    serial::register_virtual_port(
        serial::PortInfo{port_name_, options_.adapter.description, options_.adapter.hardware_id});
    registered_ = true;
}

void Simulator::withdrawRegistration() {
    if (!registered_) return;
    serial::unregister_virtual_port(port_name_);
    registered_ = false;
}

void Simulator::startPty() {
    pty_->start([adapter = adapter_.get()](const char* data, std::size_t size) { adapter->feed(data, size); });
}

void Simulator::makeLink() {
    if (options_.link_path.empty()) return;
    // Made beside the final name and renamed over it, so the link never
    // dangles half-made and an old one is replaced in one step.
    const std::string staged = options_.link_path + ".new";
    ::unlink(staged.c_str());
    if (::symlink(pty_->slavePath().c_str(), staged.c_str()) != 0 ||
        ::rename(staged.c_str(), options_.link_path.c_str()) != 0) {
        const int error = errno;
        ::unlink(staged.c_str());
        throw std::system_error(error, std::generic_category(), "cannot link " + options_.link_path);
    }
}

void Simulator::removeLink() {
    if (options_.link_path.empty()) return;
    // Only our own link: never a file someone else put at that path since.
    char target[256] = {};
    const ssize_t length = ::readlink(options_.link_path.c_str(), target, sizeof target - 1);
    if (length > 0 && pty_->slavePath() == std::string(target, static_cast<std::size_t>(length))) {
        ::unlink(options_.link_path.c_str());
    }
}

Node& Simulator::node(uint32_t node_id) {
    if (Node* found = bus_.find(node_id)) return *found;
    throw std::out_of_range("no simulated node " + std::to_string(node_id));
}

void Simulator::unplug() {
    pty_->unplug();
    // An unplugged adapter vanishes from the port list, and its link, as well.
    withdrawRegistration();
    removeLink();
}

void Simulator::replug() {
    if (stopped_) throw std::logic_error("a stopped simulator cannot be plugged in again");
    if (pty_->plugged()) unplug();
    auto fresh = std::make_unique<PtyPort>();
    relay_->connect(fresh.get());
    // The old pty's thread has ended with unplug(): no write reaches it now.
    std::swap(pty_, fresh);
    if (options_.link_path.empty()) port_name_ = pty_->slavePath();
    if (running_) startPty();
    makeLink();
    if (wants_registration_) registerPort();
}

bool Simulator::plugged() const { return pty_->plugged(); }

bool Simulator::hostConnected() const { return pty_->hostConnected(); }

void Simulator::sendGarbage(unsigned lines) { adapter_->sendGarbage(lines, options_.seed + garbage_batches_++); }

std::chrono::nanoseconds Simulator::adapterCpuTime() const { return pty_->ioCpuTime(); }

}  // namespace kinetra::sim
