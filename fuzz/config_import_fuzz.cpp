// Any document offered to the configuration import, carried through to a
// simulated driver: it is refused with an exception before anything is sent, or
// imported with a result of 0 or 1; the writes the import sends never make the
// simulated driver's handlers throw. The import's pauses go to a manual clock and
// its printout to a discarding stream.

#include <kinetra/driver.h>

#include "config/config_import.h"
#include "kinetra_sim/manual_clock.h"
#include "kinetra_sim/virtual_bus.h"
#include "proxy_bench.h"
#include "sim_bus.h"

#include <cstdlib>
#include <exception>
#include <string>

namespace {

using kinetra::fuzz::ProxyBench;
using namespace kinetra::sim;

// The simulated driver's replies go straight to the proxy.
class ProxyPort : public HostPort {
public:
    explicit ProxyPort(Driver& driver) : driver_(driver) {}
    bool carries(CANBaudRate) const override { return true; }
    void frameToHost(const can_frame_data& frame) override {
        can_frame_data copy = frame;
        driver_.canMsgCallback(&copy);
    }

private:
    Driver& driver_;
};

struct Fixture {
    ProxyBench bench;
    Driver driver{ProxyBench::kDriverNode, &bench.bus()};
    kinetra::fuzz::SimBus sim{{NodeSetup{NodeKind::Driver, ProxyBench::kDriverNode, CAN_BAUD_500K}}};
};

Fixture& fixture() {
    static Fixture instance;
    return instance;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Fixture& f = fixture();
    VirtualBus& bus = f.sim.next();
    const uint64_t errors_before = bus.handlerErrors();
    ProxyPort port(f.driver);
    bus.connect(&port);
    f.bench.respond([&](const can_frame_data& frame) { bus.deliverFromHost(frame, CAN_BAUD_500K, port); });

    ManualClock clock;
    NullStream out;
    const std::string text(reinterpret_cast<const char*>(data), size);
    bool refused = false;
    unsigned char result = 0;
    try {
        result = kinetra::config::importDriverConfiguration(f.driver, text, out, clock);
    } catch (const std::exception&) {
        refused = true;
    }
    const std::size_t sent = f.bench.framesSent();
    f.bench.respond({});
    bus.connect(nullptr);
    if (refused && sent != 0) std::abort();  // a refused document sends nothing
    if (!refused && result > 1) std::abort();
    if (bus.handlerErrors() != errors_before) std::abort();
    return 0;
}
