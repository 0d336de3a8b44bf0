// Throughput of the SLCAN line coding and of the USB transport's receive path,
// and the CPU an open but idle interface costs.
//
//   BM_DecodeLine            lines decoded per second by the pure decoder
//   BM_EncodeFrame           frame lines encoded per second
//   BM_PtyFramesIntoRecvData frames per second from a writer on the far side of a
//                            pseudo-terminal to a proxy, with the frames lost
//   BM_IdleOpenInterfaceCpu  CPU share of one core used by an open interface on a
//                            silent port

#include <kinetra/usb_interface.h>

#include "support/pty_pair.h"
#include "usb/slcan_codec.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using kinetra::slcan::decodeLine;
using kinetra::slcan::encodeFrame;
using kinetra::test::PtyPair;

std::vector<can_frame_data> mixedFrames(std::size_t count) {
    std::mt19937 rng(42);
    std::vector<can_frame_data> frames(count);
    for (auto& frame : frames) {
        const bool extended = rng() % 4 != 0;  // the device protocol is mostly extended
        frame.can_id = extended ? (0x80000000u | (rng() & 0x1FFFFFFFu)) : (rng() & 0x7FFu);
        if (rng() % 8 == 0) frame.can_id |= 0x40000000u;
        frame.can_dlc = static_cast<uint8_t>(rng() % 9);
        for (auto& byte : frame.data) byte = static_cast<uint8_t>(rng());
    }
    return frames;
}

void BM_DecodeLine(benchmark::State& state) {
    std::vector<std::string> lines;
    for (const auto& frame : mixedFrames(1024)) lines.push_back(encodeFrame(frame));
    std::size_t i = 0;
    for (auto _ : state) {
        auto decoded = decodeLine(lines[i++ & 1023]);
        benchmark::DoNotOptimize(decoded);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_DecodeLine);

void BM_EncodeFrame(benchmark::State& state) {
    const auto frames = mixedFrames(1024);
    char line[kinetra::slcan::kMaxFrameLineLength];
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(encodeFrame(frames[i++ & 1023], line));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_EncodeFrame);

// Counts the frames the interface routes to it and wakes a waiter at a target.
class CountingProxy : public CANDeviceType {
public:
    CountingProxy(Interface& iface, unsigned int node) : iface_(iface) {
        node_id_ = node;
        iface_.registerCANMsgCallback(this);
    }
    ~CountingProxy() override { iface_.unregisterCANMsgCallback(this); }

    void canMsgCallback(can_frame_data*) override {
        if (++count_ >= target_.load()) {
            std::lock_guard<std::mutex> lock(mutex_);
            reached_.notify_all();
        }
    }

    uint64_t count() const { return count_.load(); }

    /// Waits until `target` frames have arrived in all, at most `timeout`.
    bool waitFor(uint64_t target, std::chrono::milliseconds timeout) {
        target_ = target;
        std::unique_lock<std::mutex> lock(mutex_);
        return reached_.wait_for(lock, timeout, [&] { return count_.load() >= target; });
    }

private:
    Interface& iface_;
    std::atomic<uint64_t> count_{0};
    std::atomic<uint64_t> target_{UINT64_MAX};
    std::mutex mutex_;
    std::condition_variable reached_;
};

void BM_PtyFramesIntoRecvData(benchmark::State& state) {
    constexpr unsigned kNode = 5;
    constexpr std::size_t kFramesPerBatch = 500;
    constexpr std::size_t kBatchesPerIteration = 20;

    PtyPair pty;
    SlcanInterface iface;
    CountingProxy proxy(iface, kNode);
    if (!iface.initInterface(pty.slavePath())) {
        state.SkipWithError("cannot open the pseudo-terminal");
        return;
    }
    // The host's heartbeats must be taken off the line, or they fill it up.
    std::atomic<bool> stop{false};
    std::thread drain([&] {
        while (!stop) pty.readFromMaster(4096, std::chrono::milliseconds(50));
    });

    // Eight-byte data frames from node 5, command 0x46: the longest frame lines.
    std::string batch;
    for (std::size_t i = 0; i < kFramesPerBatch; ++i) {
        can_frame_data frame;
        frame.can_id = 0x80000000u | (kNode << 7) | 0x46u;
        frame.can_dlc = 8;
        for (auto& byte : frame.data) byte = static_cast<uint8_t>(i);
        batch += encodeFrame(frame);
    }

    uint64_t sent = 0;
    for (auto _ : state) {
        for (std::size_t b = 0; b < kBatchesPerIteration; ++b) {
            if (!pty.writeToMaster(batch, std::chrono::milliseconds(5000))) {
                state.SkipWithError("writer stalled");
                break;
            }
            sent += kFramesPerBatch;
        }
        if (!proxy.waitFor(sent, std::chrono::milliseconds(5000))) break;  // frames lost
    }
    const uint64_t received = proxy.count();
    stop = true;
    drain.join();
    iface.closeInterface();

    state.SetItemsProcessed(static_cast<int64_t>(received));
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(received), benchmark::Counter::kIsRate);
    state.counters["sent"] = static_cast<double>(sent);
    state.counters["lost"] = static_cast<double>(sent - received);
}
BENCHMARK(BM_PtyFramesIntoRecvData)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

void BM_IdleOpenInterfaceCpu(benchmark::State& state) {
    constexpr auto kIdle = std::chrono::seconds(2);
    PtyPair pty;
    SlcanInterface iface;
    if (!iface.initInterface(pty.slavePath())) {
        state.SkipWithError("cannot open the pseudo-terminal");
        return;
    }
    double cpu = 0;
    double wall = 0;
    for (auto _ : state) {
        const double cpu_before = cpuSeconds();
        const auto wall_before = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(kIdle);
        cpu += cpuSeconds() - cpu_before;
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_before).count();
    }
    iface.closeInterface();
    state.counters["cpu_%_of_core"] = 100.0 * cpu / wall;
}
BENCHMARK(BM_IdleOpenInterfaceCpu)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
