// Throughput of the serial layer on a pseudo-terminal: SLCAN frame lines pushed
// by a "device" on the master side and read with readline(), the way the receive
// thread reads them; frame lines written and drained; and the CPU an idle port
// costs while readline() waits.

#include <kinetra/serial/serial.h>

#include "support/pty_pair.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

const serial::Timeout kAdapterTimeout(serial::Timeout::max(), 1000, 0, 1000, 0);

/// 100 extended data frame lines of 27 bytes, as the adapter sends them.
std::string frameBurst() {
    std::string burst;
    for (int i = 0; i < 100; ++i) {
        char line[32];
        std::snprintf(line, sizeof line, "T%08X8%016X\r", 0x1000 + i, i);
        burst += line;
    }
    return burst;
}

void BM_ReadlineFrameStream(benchmark::State& state) {
    kinetra::test::PtyPair pty;
    serial::Serial port(pty.slavePath(), 115200, kAdapterTimeout);
    std::atomic<bool> stop{false};
    std::thread device([&] {
        const std::string burst = frameBurst();
        while (!stop) pty.writeToMaster(burst, 100ms);
    });
    std::string line;
    std::size_t bytes = 0;
    for (auto _ : state) {
        line.clear();
        bytes += port.readline(line, 30, "\r");
        if (line.size() != 27) {
            state.SkipWithError("short or broken line");
            break;
        }
    }
    stop = true;
    device.join();
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_ReadlineFrameStream)->UseRealTime();

void BM_WriteFrameLines(benchmark::State& state) {
    kinetra::test::PtyPair pty;
    serial::Serial port(pty.slavePath(), 115200, kAdapterTimeout);
    std::atomic<bool> stop{false};
    std::thread drain([&] {
        while (!stop) pty.readFromMaster(1 << 16, 10ms);
    });
    const std::string line = "T1ABCDE0188899AABBCCDDEEFF\r";
    for (auto _ : state) benchmark::DoNotOptimize(port.write(line));
    stop = true;
    drain.join();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WriteFrameLines)->UseRealTime();

/// CPU time (not wall time) of a 100 ms readline() on a silent port: near zero
/// when the wait sleeps in poll() instead of spinning.
void BM_IdleReadlineCpu(benchmark::State& state) {
    kinetra::test::PtyPair pty;
    serial::Serial port(pty.slavePath(), 115200, serial::Timeout(serial::Timeout::max(), 100, 0, 1000, 0));
    std::string line;
    for (auto _ : state) benchmark::DoNotOptimize(port.readline(line, 30, "\r"));
}
BENCHMARK(BM_IdleReadlineCpu)->MeasureProcessCPUTime()->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
