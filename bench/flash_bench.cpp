// A 128 KiB firmware (16-byte records, as compilers write them) flashed into the
// simulated bootloader through the whole stack, next to its floor measured in the
// same run: the procedure's fixed pauses, the simulated erase pauses, and the
// number of exchanges times a query's measured round trip. The ratio is the
// figure to watch; the target is at most 1.2. Run once on the pty alone and
// once with the simulator's bus and adapter timing model (1 ms adapter latency
// each way, frames at their bit times), whose round trip then dominates.

#include "kinetra_sim/driver_node.h"
#include "kinetra_sim/hex_image.h"
#include "kinetra_sim/simulator.h"

#include <kinetra/driver.h>
#include <kinetra/usb_interface.h>

#include "devices/protocol/bootloader_protocol.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using kinetra::sim::NodeKind;
namespace boot = kinetra::protocol::bootloader;

constexpr std::size_t kImageSize = 128 * 1024;
constexpr std::size_t kRecordSize = 16;
constexpr double kEraseScale = 0.1;
constexpr int kRoundTrips = 500;

// The real clock, adding up the pauses it takes.
class CountingClock final : public kinetra::ProcedureClock {
public:
    clock::time_point now() override { return clock::now(); }
    void sleepFor(clock::duration duration) override {
        slept += duration;
        std::this_thread::sleep_for(duration);
    }
    clock::duration slept{0};
};

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

void BM_Flash128KiB(benchmark::State& state) {
    kinetra::sim::SimulatorOptions sim_options;
    sim_options.timing.enabled = state.range(0) != 0;
    kinetra::sim::Simulator sim({{NodeKind::Driver, 1}}, sim_options);
    kinetra::sim::BootTiming timing;
    timing.erase_time_scale = kEraseScale;
    sim.nodeAs<kinetra::sim::DriverNode>(1).setBootTiming(timing);
    sim.start();
    sim.registerAsAdapter();
    const std::string path = "/tmp/kinetra_flash_bench.hex";
    const std::vector<uint8_t> image = kinetra::sim::firmwareImage(kImageSize, {9, 9, 9});
    std::ofstream(path) << kinetra::sim::intelHexText(boot::kFlashBase, image, kRecordSize);

    USBInterface iface;
    if (!iface.initInterface(sim.portName())) {
        state.SkipWithError("cannot open the simulator");
        return;
    }
    Driver driver(1, &iface);
    const auto present_by = Clock::now() + std::chrono::seconds(3);
    while (!(iface.isRunning() && iface.isDeviceConnected(1)) && Clock::now() < present_by) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    for (auto _ : state) {
        // The round trip of one exchange, measured as the query it resembles.
        unsigned char major = 0, minor = 0;
        unsigned short patch = 0;
        const auto rt_start = Clock::now();
        for (int i = 0; i < kRoundTrips; ++i) driver.getFirmwareVersion(&major, &minor, &patch);
        const double round_trip = seconds(Clock::now() - rt_start) / kRoundTrips;

        CountingClock clock;
        kinetra::FlashOptions options;
        options.clock = &clock;
        const auto start = Clock::now();
        const ret_status_t status = driver.flash(path, false, options);
        const double took = seconds(Clock::now() - start);
        if (status != RET_OK) {
            state.SkipWithError(("flash failed with status " + std::to_string(status)).c_str());
            break;
        }
        // Frames that wait for a reply: synchronise, change speed, two per sector,
        // per record the write command and its data frames, and Go.
        const std::size_t blocks = kImageSize / kRecordSize;
        const double exchanges = 2 + 2.0 * boot::kErasedSectorCount +
                                 blocks * (1.0 + (kRecordSize + boot::kDataPerFrame - 1) / boot::kDataPerFrame) + 1;
        double erase = 0;
        for (unsigned s = 0; s < boot::kErasedSectorCount; ++s) {
            const uint32_t size = boot::kSectors[s].size;
            erase += size <= 0x4000 ? 0.25 : size <= 0x10000 ? 0.55 : 1.0;
        }
        erase *= kEraseScale;
        const double floor =
            seconds(clock.slept) + erase + seconds(timing.new_speed_ack_delay) + exchanges * round_trip;
        state.SetIterationTime(took);
        state.counters["flash_s"] = took;
        state.counters["floor_s"] = floor;
        state.counters["ratio"] = took / floor;
        state.counters["round_trip_us"] = round_trip * 1e6;
        state.counters["exchanges_per_KiB"] = exchanges / (kImageSize / 1024.0);
    }
    iface.closeInterface();
    sim.stop();
    std::remove(path.c_str());
}
BENCHMARK(BM_Flash128KiB)->ArgName("timing_model")->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(
    benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
