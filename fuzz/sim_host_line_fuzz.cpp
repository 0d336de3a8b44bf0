// Any bytes a host writes to the simulated adapter: the simulator never crashes,
// its nodes' handlers never throw on the frames that reach them, and every line
// it answers with is one the library's decoder reads as well-formed.
//
// Input: one byte choosing the adapter's mode, then the bytes the host writes.

#include "kinetra_sim/adapter_protocol.h"
#include "sim_bus.h"

#include "usb/slcan_codec.h"

#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace kinetra::sim;
namespace slcan = kinetra::slcan;

class CollectingWire : public HostWire {
public:
    void writeToHost(std::string_view bytes) override { text.append(bytes); }
    std::string text;
};

bool malformed(slcan::LineKind kind) {
    using slcan::LineKind;
    return kind == LineKind::BadLength || kind == LineKind::Truncated || kind == LineKind::TooLong ||
           kind == LineKind::BadDigit || kind == LineKind::Unknown;
}

void checkAnswers(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size()) {
        while (start < text.size() && text[start] == slcan::kBell) ++start;
        const std::size_t end = text.find(slcan::kTerminator, start);
        if (end == std::string_view::npos) {
            if (start != text.size()) std::abort();  // an answer without its terminator
            return;
        }
        const std::string_view line = text.substr(start, end - start);
        if (!line.empty() && malformed(slcan::decodeLine(line).kind)) std::abort();
        start = end + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    AdapterSetup setup;
    setup.generic = (data[0] & 1) != 0;
    setup.bit_rate = (data[0] & 2) != 0 ? CAN_BAUD_1M : CAN_BAUD_500K;
    static kinetra::fuzz::SimBus sim({{NodeKind::Driver, 1, CAN_BAUD_500K},
                                      {NodeKind::Actuator, 2, CAN_BAUD_500K},
                                      {NodeKind::Imu, 3, CAN_BAUD_1M},
                                      {NodeKind::Encoder, 4, CAN_BAUD_500K}});
    VirtualBus& bus = sim.next();
    const uint64_t errors_before = bus.handlerErrors();
    CollectingWire wire;
    AdapterProtocol adapter(setup, wire, bus);
    bus.connect(&adapter);
    adapter.feed(reinterpret_cast<const char*>(data) + 1, size - 1);
    bus.connect(nullptr);
    checkAnswers(wire.text);
    if (bus.handlerErrors() != errors_before) std::abort();
    return 0;
}
