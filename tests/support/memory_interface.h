#pragma once
// An in-memory transport: records every frame the library sends and lets a test
// hand in received frames. The receive thread waits on a condition variable, so
// an idle bus costs nothing and injected frames are delivered at once.

#include <kinetra/interface.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace kinetra::test {

class MemoryInterface : public Interface {
public:
    MemoryInterface();
    ~MemoryInterface() override;

    unsigned char sendData(can_frame_data* frame) override;
    ret_interface_t setCANBaudRate(CANBaudRate rate) override;

    /// Hands a frame to the receive thread.
    void inject(const can_frame_data& frame);
    /// Every frame sent so far, in order.
    std::vector<can_frame_data> sent() const;
    /// Sent frames other than master heartbeats.
    std::vector<can_frame_data> sentExceptHeartbeats() const;
    void clearSent();
    /// Waits until a sent frame satisfies `match`; false after `timeout`.
    bool waitForSent(const std::function<bool(const can_frame_data&)>& match, std::chrono::milliseconds timeout);

    /// Makes sendData fail (as an unplugged adapter would) or succeed again.
    void setSendFails(bool fails);
    /// What init() reports.
    void setOpenSucceeds(bool succeeds);
    /// Called with every frame the library sends, after it was recorded.
    using Listener = std::function<void(const can_frame_data&)>;
    int addListener(Listener listener);
    void removeListener(int id);

    int initCalls() const;
    int closeCalls() const;
    CANBaudRate lastBaudRate() const;

private:
    unsigned char init(std::string port) override;
    void closeIface() override;
    unsigned char recvData(can_frame_data* frame) override;

    mutable std::mutex mutex_;
    std::condition_variable rx_cv_;
    std::condition_variable tx_cv_;
    std::deque<can_frame_data> rx_;
    std::vector<can_frame_data> tx_;
    bool send_fails_ = false;
    bool open_succeeds_ = true;
    int init_calls_ = 0;
    int close_calls_ = 0;
    CANBaudRate last_rate_ = CAN_BAUD_1M;

    std::mutex listener_mutex_;
    std::vector<std::pair<int, Listener>> listeners_;
    int next_listener_ = 0;
};

}  // namespace kinetra::test
