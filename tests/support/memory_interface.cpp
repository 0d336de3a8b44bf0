#include "support/memory_interface.h"

#include "can/bus.h"

#include <algorithm>

namespace kinetra::test {

namespace {
// Bounds one recvData() call, so the receive thread sees a stop request quickly.
constexpr std::chrono::milliseconds kReceiveWait{20};
}  // namespace

MemoryInterface::MemoryInterface() = default;

MemoryInterface::~MemoryInterface() { closeInterface(); }

unsigned char MemoryInterface::init(std::string /*port*/) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++init_calls_;
    return open_succeeds_ ? 1 : 0;
}

void MemoryInterface::closeIface() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++close_calls_;
}

unsigned char MemoryInterface::sendData(can_frame_data* frame) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (send_fails_) return 0;
        tx_.push_back(*frame);
    }
    tx_cv_.notify_all();
    // Called under the listener lock, so removeListener() waits for a listener
    // that is running and its owner can be destroyed safely afterwards.
    std::lock_guard<std::mutex> lock(listener_mutex_);
    for (const auto& entry : listeners_) entry.second(*frame);
    return 1;
}

ret_interface_t MemoryInterface::setCANBaudRate(CANBaudRate rate) {
    std::lock_guard<std::mutex> lock(mutex_);
    last_rate_ = rate;
    return RET_INTERFACE_OK;
}

unsigned char MemoryInterface::recvData(can_frame_data* frame) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!rx_cv_.wait_for(lock, kReceiveWait, [this] { return !rx_.empty(); })) return 0;
    *frame = rx_.front();
    rx_.pop_front();
    return 1;
}

void MemoryInterface::inject(const can_frame_data& frame) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        rx_.push_back(frame);
    }
    rx_cv_.notify_all();
}

std::vector<can_frame_data> MemoryInterface::sent() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return tx_;
}

std::vector<can_frame_data> MemoryInterface::sentExceptHeartbeats() const {
    const uint32_t heartbeat = protocol::masterHeartbeatFrame().can_id;
    std::vector<can_frame_data> frames = sent();
    frames.erase(std::remove_if(frames.begin(), frames.end(),
                                [heartbeat](const can_frame_data& f) { return f.can_id == heartbeat; }),
                 frames.end());
    return frames;
}

void MemoryInterface::clearSent() {
    std::lock_guard<std::mutex> lock(mutex_);
    tx_.clear();
}

bool MemoryInterface::waitForSent(const std::function<bool(const can_frame_data&)>& match,
                                  std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return tx_cv_.wait_for(lock, timeout, [&] { return std::any_of(tx_.begin(), tx_.end(), match); });
}

void MemoryInterface::setSendFails(bool fails) {
    std::lock_guard<std::mutex> lock(mutex_);
    send_fails_ = fails;
}

void MemoryInterface::setOpenSucceeds(bool succeeds) {
    std::lock_guard<std::mutex> lock(mutex_);
    open_succeeds_ = succeeds;
}

int MemoryInterface::addListener(Listener listener) {
    std::lock_guard<std::mutex> lock(listener_mutex_);
    listeners_.emplace_back(next_listener_, std::move(listener));
    return next_listener_++;
}

void MemoryInterface::removeListener(int id) {
    std::lock_guard<std::mutex> lock(listener_mutex_);
    listeners_.erase(std::remove_if(listeners_.begin(), listeners_.end(),
                                    [id](const auto& entry) { return entry.first == id; }),
                     listeners_.end());
}

int MemoryInterface::initCalls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return init_calls_;
}

int MemoryInterface::closeCalls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return close_calls_;
}

CANBaudRate MemoryInterface::lastBaudRate() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_rate_;
}

}  // namespace kinetra::test
