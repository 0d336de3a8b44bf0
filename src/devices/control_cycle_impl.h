#pragma once
// The state of a control cycle: its entries, the buses they are on with each
// bus's write, and the wait of a run, all sized when entries are added so that
// a run allocates nothing.

#include <kinetra/control_cycle.h>

#include "devices/cycle_queries.h"
#include "devices/cycle_read.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

namespace kinetra {

/// One entry: a read (request, reply layout, where its values go) or a command.
struct CycleEntry {
    std::shared_ptr<CycleHandle> handle;
    std::size_t bus = 0;
    can_frame_data frame{};
    bool read = false;
    /// Refused when added: never sent.
    bool refused = false;
    /// A command waiting for a finite set point sends nothing.
    bool has_setpoint = false;
    bool setpoint_valid = true;
    CycleQuery query;
    uint8_t value_count = 0;
    std::array<void*, 8> values{};
    // One run's state, under the cycle's mutex while the run waits.
    bool armed = false;
    ret_status_t status = RET_TIMEOUT;
};

/// One interface of the cycle: the entries on it, and the frames of its write.
struct CycleBusWrite {
    Interface* iface = nullptr;
    std::vector<std::size_t> commands;
    std::vector<std::size_t> reads;
    std::vector<can_frame_data> frames;
    bool sent = false;
};

}  // namespace kinetra

struct ControlCycle::ControlCycleImpl final : kinetra::CycleListener {
    using Clock = std::chrono::steady_clock;
    /// How often a waiting run looks for an adapter lost during the run: a lost
    /// adapter sends no reply and no wake-up, so the run checks on its own.
    static constexpr std::chrono::milliseconds kLostAdapterCheck{10};

    std::size_t addRead(const kinetra::CycleProxy& proxy, const kinetra::CycleQuery& query,
                        std::initializer_list<CycleValue> values);
    std::size_t addCommand(const kinetra::CycleProxy& proxy, MotorCommand command, float setpoint);
    ret_status_t setSetpoint(std::size_t index, float setpoint);
    ret_status_t run();

    bool deliver(const void* handle, const can_frame_data& frame, uint8_t command) override;

    std::vector<kinetra::CycleEntry> entries;
    std::vector<kinetra::CycleBusWrite> buses;

private:
    std::size_t push(kinetra::CycleEntry entry, Interface* iface);
    void arm();
    void send();
    void wait();
    void disarm();
    void failLostBuses();
    void failReads(kinetra::CycleBusWrite& bus);

    std::mutex run_mutex;
    std::mutex mutex;
    std::condition_variable answered;
    std::size_t pending = 0;
};
