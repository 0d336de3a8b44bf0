// A query's full round trip through the real stack (Driver proxy -> USBInterface
// -> serial layer -> pty -> simulator and back), next to the least a round trip
// over a pty can cost (a bare thread writing the query line and reading the
// reply line, against the same simulator), and the simulator's own CPU work per
// query measured without any I/O. Thread wake-ups on a small virtual machine
// swing absolute figures, so the ratio of the first two is the figure to watch.

#include "kinetra_sim/adapter_protocol.h"
#include "kinetra_sim/driver_node.h"
#include "kinetra_sim/simulator.h"
#include "kinetra_sim/virtual_bus.h"

#include <kinetra/driver.h>
#include <kinetra/usb_interface.h>

#include "can/bus.h"
#include "devices/protocol/common_commands.h"
#include "usb/slcan_codec.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using kinetra::sim::NodeKind;
using kinetra::sim::Simulator;

constexpr uint32_t kNode = 1;
constexpr int kRoundTrips = 3000;

/// One simulator for both round-trip benchmarks, so they measure against the same thing.
Simulator& simulator() {
    static Simulator* sim = [] {
        auto* created = new Simulator({{NodeKind::Driver, kNode}});
        created->start();
        created->registerAsAdapter();
        return created;
    }();
    return *sim;
}

struct Figures {
    double median_us = 0;
    double p99_us = 0;
};
Figures stack_figures;
Figures bare_figures;

/// Median and 99th percentile of the latencies, published as counters.
Figures report(benchmark::State& state, std::vector<double>& latencies_us, std::chrono::nanoseconds sim_cpu) {
    Figures figures;
    if (latencies_us.empty()) return figures;
    std::sort(latencies_us.begin(), latencies_us.end());
    figures.median_us = latencies_us[latencies_us.size() / 2];
    figures.p99_us = latencies_us[std::min(latencies_us.size() - 1, latencies_us.size() * 99 / 100)];
    state.counters["median_us"] = figures.median_us;
    state.counters["p99_us"] = figures.p99_us;
    state.counters["queries_per_s"] = benchmark::Counter(double(latencies_us.size()), benchmark::Counter::kIsRate);
    state.counters["sim_cpu_us_per_query"] =
        std::chrono::duration<double, std::micro>(sim_cpu).count() / double(latencies_us.size());
    return figures;
}

void BM_ProxyQueryRoundTrip(benchmark::State& state) {
    Simulator& sim = simulator();
    USBInterface bus;
    if (!bus.initInterface(sim.portName())) {
        state.SkipWithError("could not open the simulator's port");
        return;
    }
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (!bus.isDeviceConnected(kNode) && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!bus.isDeviceConnected(kNode)) {
        state.SkipWithError("the simulated driver did not appear");
        return;
    }
    Driver driver(kNode, &bus);

    std::vector<double> latencies;
    latencies.reserve(kRoundTrips);
    const auto cpu_before = sim.adapterCpuTime();
    for (auto _ : state) {
        unsigned char a, b, c, d;
        const auto start = Clock::now();
        const ret_status_t status = driver.getHardwareVersion(&a, &b, &c, &d);
        const auto took = std::chrono::duration<double>(Clock::now() - start);
        if (status != RET_OK) {
            const std::string why = "query " + std::to_string(latencies.size()) + " failed with status " +
                                    std::to_string(status);
            state.SkipWithError(why.c_str());
            break;
        }
        state.SetIterationTime(took.count());
        latencies.push_back(took.count() * 1e6);
    }
    stack_figures = report(state, latencies, sim.adapterCpuTime() - cpu_before);
    bus.closeInterface();
}
BENCHMARK(BM_ProxyQueryRoundTrip)->UseManualTime()->Iterations(kRoundTrips)->Unit(benchmark::kMicrosecond);

/// A raw descriptor on the simulator's port and the query line; the reference.
class BareClient {
public:
    explicit BareClient(const std::string& port) : fd_(::open(port.c_str(), O_RDWR | O_NOCTTY)) {
        if (fd_ < 0) throw std::runtime_error("cannot open " + port);
        termios settings{};
        ::tcgetattr(fd_, &settings);
        ::cfmakeraw(&settings);
        ::tcsetattr(fd_, TCSANOW, &settings);
        can_frame_data query{};
        query.can_id = kinetra::protocol::hostFrameId(kNode, kinetra::protocol::common::kGetHardwareVersion,
                                                      kinetra::protocol::FrameKind::Remote);
        query.can_dlc = kinetra::protocol::kQueryDlc;
        query_ = kinetra::slcan::encodeFrame(query);
        reply_prefix_ = kinetra::slcan::encodeFrame(
                            [] {
                                can_frame_data reply{};
                                reply.can_id = kinetra::protocol::nodeFrameId(
                                    kNode, kinetra::protocol::common::kGetHardwareVersion,
                                    static_cast<uint8_t>(kinetra::protocol::DeviceType::Driver));
                                return reply;
                            }())
                            .substr(0, 9);
    }
    ~BareClient() { ::close(fd_); }

    /// Writes the query and reads lines until the reply; false after a second.
    bool roundTrip() {
        if (::write(fd_, query_.data(), query_.size()) != static_cast<ssize_t>(query_.size())) return false;
        const auto deadline = Clock::now() + std::chrono::seconds(1);
        for (;;) {
            for (std::size_t end; (end = pending_.find('\r')) != std::string::npos;) {
                const bool reply = pending_.compare(0, reply_prefix_.size(), reply_prefix_) == 0;
                pending_.erase(0, end + 1);
                if (reply) return true;  // heartbeats and the like are skipped
            }
            pollfd fd{fd_, POLLIN, 0};
            if (Clock::now() >= deadline || ::poll(&fd, 1, 100) < 0) return false;
            char buffer[512];
            const ssize_t got = ::read(fd_, buffer, sizeof buffer);
            if (got > 0) pending_.append(buffer, static_cast<std::size_t>(got));
        }
    }

private:
    int fd_;
    std::string query_;
    std::string reply_prefix_;
    std::string pending_;
};

void BM_BareThreadRoundTrip(benchmark::State& state) {
    Simulator& sim = simulator();
    BareClient client(sim.portName());
    std::vector<double> latencies;
    latencies.reserve(kRoundTrips);
    const auto cpu_before = sim.adapterCpuTime();
    for (auto _ : state) {
        const auto start = Clock::now();
        const bool ok = client.roundTrip();
        const auto took = std::chrono::duration<double>(Clock::now() - start);
        if (!ok) {
            state.SkipWithError("no reply");
            break;
        }
        state.SetIterationTime(took.count());
        latencies.push_back(took.count() * 1e6);
    }
    bare_figures = report(state, latencies, sim.adapterCpuTime() - cpu_before);
}
BENCHMARK(BM_BareThreadRoundTrip)->UseManualTime()->Iterations(kRoundTrips)->Unit(benchmark::kMicrosecond);

/// The simulator's work for one query without any I/O: line split and parse,
/// bus delivery, the node's handler, reply encoding.
class NullWire : public kinetra::sim::HostWire {
public:
    void writeToHost(std::string_view bytes) override { benchmark::DoNotOptimize(bytes.data()); }
};

void BM_SimulatorWorkPerQuery(benchmark::State& state) {
    NullWire wire;
    kinetra::sim::VirtualBus bus;
    bus.addNode(std::make_unique<kinetra::sim::DriverNode>(kinetra::sim::NodeSetup{NodeKind::Driver, kNode}));
    kinetra::sim::AdapterProtocol adapter(kinetra::sim::AdapterSetup{}, wire, bus);
    bus.connect(&adapter);
    can_frame_data query{};
    query.can_id = kinetra::protocol::hostFrameId(kNode, kinetra::protocol::common::kGetHardwareVersion,
                                                  kinetra::protocol::FrameKind::Remote);
    query.can_dlc = kinetra::protocol::kQueryDlc;
    const std::string line = kinetra::slcan::encodeFrame(query);
    for (auto _ : state) adapter.feed(line.data(), line.size());
    state.counters["replies"] = double(adapter.framesToHost());
}
BENCHMARK(BM_SimulatorWorkPerQuery)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (stack_figures.median_us > 0 && bare_figures.median_us > 0) {
        std::printf("\nquery round trip, median: full stack %.1f us, bare pty thread %.1f us, ratio %.2f\n",
                    stack_figures.median_us, bare_figures.median_us, stack_figures.median_us / bare_figures.median_us);
        std::printf("query round trip, p99:    full stack %.1f us, bare pty thread %.1f us, ratio %.2f\n",
                    stack_figures.p99_us, bare_figures.p99_us, stack_figures.p99_us / bare_figures.p99_us);
    }
    simulator().stop();
    return 0;
}
