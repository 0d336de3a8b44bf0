#pragma once
// One read of a control cycle, set up once and run every cycle: the request
// frame, the proxy's engine behind a handle that outlives the proxy, and the
// out-parameters the reply's values go to. Type-erased so that one cycle holds
// reads of every proxy class without a heap allocation per cycle.

#include <kinetra/can_frame.h>
#include <kinetra/types.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>

namespace kinetra {

/// Where a proxy's engine is reached from its cycle reads. The proxy clears
/// `core` under `mutex` when it goes, so a read of a destroyed proxy finds null.
struct CycleHandle {
    std::mutex mutex;
    void* core = nullptr;
};

struct CycleRead {
    using Deadline = std::chrono::steady_clock::time_point;
    /// The most values one reply carries.
    static constexpr std::size_t kMaxValues = 8;

    std::shared_ptr<CycleHandle> handle;
    can_frame_data request{};
    int pending_id = -1;
    /// Guard sequence and arming; RET_OK when the request may be sent.
    ret_status_t (*begin)(void* core, int pending_id) = nullptr;
    /// Waits until the deadline, hands the values to `outs`, disarms.
    ret_status_t (*end)(void* core, Deadline deadline, void* const* outs) = nullptr;
    /// Disarms without waiting (the request could not be sent).
    void (*cancel)(void* core) = nullptr;
    std::array<void*, kMaxValues> outs{};
};

}  // namespace kinetra
