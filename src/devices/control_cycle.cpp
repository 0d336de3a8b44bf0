#include <kinetra/control_cycle.h>

#include "devices/control_cycle_impl.h"
#include "devices/query_engine.h"

#include <algorithm>
#include <chrono>

ControlCycle::ControlCycle(Interface* iface) : impl_(new ControlCycleImpl(iface)) {}

ControlCycle::~ControlCycle() { delete impl_; }

ret_status_t ControlCycle::run() { return impl_->run(); }

ret_status_t ControlCycle::status(std::size_t index) const {
    return index < impl_->statuses.size() ? impl_->statuses[index] : RET_INVALID_ARGUMENT;
}

std::size_t ControlCycle::size() const { return impl_->reads.size(); }

std::size_t ControlCycle::ControlCycleImpl::add(kinetra::CycleRead read) {
    const bool again = read.handle == nullptr ||
                       std::any_of(reads.begin(), reads.end(),
                                   [&](const kinetra::CycleRead& other) { return other.handle == read.handle; });
    reads.push_back(std::move(read));
    statuses.push_back(again ? RET_INVALID_ARGUMENT : RET_TIMEOUT);
    duplicate.push_back(again);
    armed.push_back(false);
    requests.resize(reads.size());
    return reads.size() - 1;
}

ret_status_t ControlCycle::ControlCycleImpl::run() {
    using kinetra::CycleRead;
    // Arm every read whose proxy and node are there, and gather the requests.
    std::size_t count = 0;
    for (std::size_t i = 0; i < reads.size(); ++i) {
        armed[i] = false;
        if (duplicate[i]) continue;
        CycleRead& read = reads[i];
        std::lock_guard<std::mutex> lock(read.handle->mutex);
        if (read.handle->core == nullptr) {
            statuses[i] = RET_NOT_INITIALISED;
            continue;
        }
        statuses[i] = read.begin(read.handle->core, read.pending_id);
        if (statuses[i] != RET_OK) continue;
        armed[i] = true;
        requests[count++] = read.request;
    }
    const bool sent = count > 0 && iface != nullptr && iface->sendFrames(requests.data(), count) != 0;
    // One deadline for all: the cycle ends with its last reply or its wait.
    const CycleRead::Deadline deadline =
        std::chrono::steady_clock::now() + kinetra::QueryEngine<kinetra::reply_value>::kReplyTimeout;
    for (std::size_t i = 0; i < reads.size(); ++i) {
        if (!armed[i]) continue;
        CycleRead& read = reads[i];
        std::lock_guard<std::mutex> lock(read.handle->mutex);
        if (read.handle->core == nullptr) {
            statuses[i] = RET_NOT_INITIALISED;
        } else if (!sent) {
            read.cancel(read.handle->core);
            statuses[i] = RET_NOT_RUNNING;
        } else {
            statuses[i] = read.end(read.handle->core, deadline, read.outs.data());
        }
    }
    for (ret_status_t status : statuses) {
        if (status != RET_OK) return status;
    }
    return RET_OK;
}
