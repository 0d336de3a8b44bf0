#include "kinetra_sim/adapter_endpoint.h"

#include "host_wire_relay.h"
#include "pty_port.h"

#include <kinetra/serial/serial.h>

#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace kinetra::sim {

AdapterEndpoint::AdapterEndpoint(AdapterSetup setup, HostBus& bus, std::string link_path, TrafficObserver observer)
    : link_path_(std::move(link_path)),
      bus_(bus),
      relay_(std::make_unique<HostWireRelay>()),
      pty_(std::make_unique<PtyPort>()) {
    port_name_ = link_path_.empty() ? pty_->slavePath() : link_path_;
    relay_->connect(pty_.get());
    adapter_ = std::make_unique<AdapterProtocol>(std::move(setup), *relay_, bus_);
    adapter_->setObserver(std::move(observer));
    makeLink();
    bus_.attach(*adapter_);
}

AdapterEndpoint::~AdapterEndpoint() { stop(); }

void AdapterEndpoint::start() {
    if (stopped_) throw std::logic_error("a stopped adapter cannot be started again");
    if (running_) return;
    running_ = true;
    startPty();
}

void AdapterEndpoint::stop() {
    if (stopped_) return;
    stopped_ = true;
    running_ = false;
    pty_->stop();
    bus_.detach(*adapter_);
    withdrawRegistration();
    removeLink();
}

void AdapterEndpoint::startPty() {
    pty_->start([adapter = adapter_.get()](const char* data, std::size_t size) { adapter->feed(data, size); });
}

void AdapterEndpoint::registerAsAdapter() {
    wants_registration_ = true;
    registerPort();
}

void AdapterEndpoint::registerPort() {
    if (registered_) return;
    const AdapterSetup& setup = adapter_->setup();
    serial::register_virtual_port(serial::PortInfo{port_name_, setup.description, setup.hardware_id});
    registered_ = true;
}

void AdapterEndpoint::withdrawRegistration() {
    if (!registered_) return;
    serial::unregister_virtual_port(port_name_);
    registered_ = false;
}

void AdapterEndpoint::makeLink() {
    if (link_path_.empty()) return;
    // Made beside the final name and renamed over it, so the link never
    // dangles half-made and an old one is replaced in one step.
    const std::string staged = link_path_ + ".new";
    ::unlink(staged.c_str());
    if (::symlink(pty_->slavePath().c_str(), staged.c_str()) != 0 ||
        ::rename(staged.c_str(), link_path_.c_str()) != 0) {
        const int error = errno;
        ::unlink(staged.c_str());
        throw std::system_error(error, std::generic_category(), "cannot link " + link_path_);
    }
}

void AdapterEndpoint::removeLink() {
    if (link_path_.empty()) return;
    // Only our own link: never a file someone else put at that path since.
    char target[256] = {};
    const ssize_t length = ::readlink(link_path_.c_str(), target, sizeof target - 1);
    if (length > 0 && pty_->slavePath() == std::string(target, static_cast<std::size_t>(length))) {
        ::unlink(link_path_.c_str());
    }
}

void AdapterEndpoint::unplug() {
    pty_->unplug();
    // An unplugged adapter vanishes from the port list, and its link, as well.
    withdrawRegistration();
    removeLink();
}

void AdapterEndpoint::replug() {
    if (stopped_) throw std::logic_error("a stopped adapter cannot be plugged in again");
    if (pty_->plugged()) unplug();
    auto fresh = std::make_unique<PtyPort>();
    relay_->connect(fresh.get());
    // The old pty's thread has ended with unplug(): no write reaches it now.
    std::swap(pty_, fresh);
    if (link_path_.empty()) port_name_ = pty_->slavePath();
    if (running_) startPty();
    makeLink();
    if (wants_registration_) registerPort();
}

bool AdapterEndpoint::plugged() const { return pty_->plugged(); }

bool AdapterEndpoint::hostConnected() const { return pty_->hostConnected(); }

std::chrono::nanoseconds AdapterEndpoint::ioCpuTime() const { return pty_->ioCpuTime(); }

}  // namespace kinetra::sim
