// Costs of the frame model and of one whole query cycle, next to the least any
// design with a receive thread pays: a two-thread condition-variable round trip.
// Heap allocations are counted per iteration once warmed up.

#include <kinetra/can_frame.h>
#include <kinetra/driver.h>
#include <kinetra/interface.h>

#include "can/bus.h"
#include "devices/protocol/motor_controller_protocol.h"
#include "devices/protocol/payload.h"

#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <new>
#include <thread>

// Replacing the global allocator to count calls pairs malloc with the default
// new-expressions GCC sees in this file; the pairing is deliberate.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
std::atomic<long> g_allocations{0};
}

void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

void BM_GetSignal(benchmark::State& state) {
    can_frame_data frame{};
    for (int i = 0; i < 8; ++i) frame.data[i] = static_cast<uint8_t>(0x11 * i);
    for (auto _ : state) {
        benchmark::DoNotOptimize(frame);
        benchmark::DoNotOptimize(canGetSignal<unsigned short>(frame, 16, 16, true));
    }
}
BENCHMARK(BM_GetSignal);

void BM_SetSignal(benchmark::State& state) {
    can_frame_data frame{};
    float value = 1.234f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(value);
        canSetSignal<short>(frame, value, 32, 16, true, 0.01f, 0.0f);
        benchmark::DoNotOptimize(frame);
    }
}
BENCHMARK(BM_SetSignal);

void BM_PackIdentifier(benchmark::State& state) {
    can_node_id id;
    id.ext = 1;
    id.rtr = 1;
    id.node_id = 5;
    id.command_id = 0x46;
    for (auto _ : state) {
        benchmark::DoNotOptimize(id);
        benchmark::DoNotOptimize(setNodeIDForFrame(id));
    }
}
BENCHMARK(BM_PackIdentifier);

// A transport that answers every query at once, as a device on a fast bus would,
// and hands the answer to the receive thread through one condition variable.
class LoopbackInterface : public Interface {
public:
    explicit LoopbackInterface(uint32_t node) : node_(node) {}
    ~LoopbackInterface() override { closeInterface(); }

    unsigned char sendData(can_frame_data* frame) override {
        // Each master heartbeat is answered by the node's heartbeat, so it stays present.
        if (getCommandIdFromFrame(frame) == kinetra::protocol::kHeartbeat) {
            heartbeat();
            return 1;
        }
        if (!getRtrFromFrame(frame) || getDeviceIdFromFrame(frame) != node_) return 1;
        can_frame_data reply{};
        reply.can_id = kinetra::protocol::nodeFrameId(node_, getCommandIdFromFrame(frame), 1);
        reply.can_dlc = 8;
        kinetra::protocol::PayloadWriter(reply).put(12.5f).put(1.0f);
        push(reply);
        return 1;
    }
    ret_interface_t setCANBaudRate(CANBaudRate) override { return RET_INTERFACE_OK; }
    void heartbeat() {
        can_frame_data beat{};
        beat.can_id = kinetra::protocol::nodeFrameId(node_, kinetra::protocol::kHeartbeat, 1);
        push(beat);
    }

private:
    void push(const can_frame_data& frame) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ring_[(head_ + count_) % ring_.size()] = frame;
            ++count_;
        }
        cv_.notify_one();
    }
    unsigned char init(std::string) override { return 1; }
    void closeIface() override {}
    unsigned char recvData(can_frame_data* frame) override {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!cv_.wait_for(lock, std::chrono::milliseconds(20), [this] { return count_ > 0; })) return 0;
        *frame = ring_[head_];
        head_ = (head_ + 1) % ring_.size();
        --count_;
        return 1;
    }

    const uint32_t node_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::array<can_frame_data, 8> ring_{};
    std::size_t head_ = 0;
    std::size_t count_ = 0;
};

void BM_QueryCycle(benchmark::State& state) {
    LoopbackInterface bus(5);
    bus.initInterface("loopback");
    Driver driver(5, &bus);
    while (!bus.isRunning() || !bus.isDeviceConnected(5)) {
        bus.heartbeat();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    float voltage = 0.0f;
    for (int i = 0; i < 1000; ++i) driver.getBusVoltage(&voltage);  // warm up
    const long before = g_allocations.load();
    long failures = 0;
    for (auto _ : state) {
        if (driver.getBusVoltage(&voltage) != RET_OK) ++failures;
    }
    state.counters["allocs_per_query"] =
        benchmark::Counter(static_cast<double>(g_allocations.load() - before) / state.iterations());
    state.counters["failures"] = static_cast<double>(failures);
    bus.closeInterface();
}
BENCHMARK(BM_QueryCycle)->UseRealTime()->MinTime(2.0);

// The reference: thread A hands a token to thread B and waits for it to come back,
// the two wake-ups a query needs (request out, reply in) with nothing else.
void BM_ConditionVariableRoundTrip(benchmark::State& state) {
    std::mutex mutex;
    std::condition_variable cv;
    int turn = 0;  // 0: main's, 1: the peer's, 2: stop
    std::thread peer([&] {
        std::unique_lock<std::mutex> lock(mutex);
        while (true) {
            cv.wait(lock, [&] { return turn != 0; });
            if (turn == 2) return;
            turn = 0;
            cv.notify_all();
        }
    });
    for (auto _ : state) {
        std::unique_lock<std::mutex> lock(mutex);
        turn = 1;
        cv.notify_all();
        cv.wait(lock, [&] { return turn == 0; });
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        turn = 2;
    }
    cv.notify_all();
    peer.join();
}
BENCHMARK(BM_ConditionVariableRoundTrip)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
