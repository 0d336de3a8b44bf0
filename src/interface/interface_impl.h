#pragma once
// The state behind Interface: flags, locks, registry, presence table, callbacks
// and the two worker threads.

#include <kinetra/interface.h>

#include "interface/log_sink.h"
#include "interface/presence_table.h"
#include "interface/stop_signal.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>

struct Interface::InterfaceImpl {
    explicit InterfaceImpl(Interface* owner);

    /// Sends one frame under the send lock and records the result in `running`.
    unsigned char sendFrame(can_frame_data* frame);
    unsigned char sendFrames(can_frame_data* frames, std::size_t count);
    /// Sends an acknowledgement frame to `node`.
    void sendAckToDevice(unsigned int node);

    /// Starts the receive thread; true once it runs.
    unsigned char startRecvThread();
    /// Starts the master heartbeat thread; true once it runs.
    unsigned char startMasterHeartbeatThread();
    /// Asks both threads to end and waits for them, receive thread first.
    void stopThreads();

    void recvThread();
    void masterHeartbeatThread();

    /// The heartbeat thread's time: each pause between two passes (true when a
    /// stop cut it short) and the time nodes expire by. Tests step them by hand.
    std::function<bool(std::chrono::nanoseconds)> heartbeatPause = [this](std::chrono::nanoseconds period) {
        return stop.waitFor(period);
    };
    std::function<kinetra::PresenceTable::TimePoint()> heartbeatNow = [] {
        return kinetra::PresenceTable::Clock::now();
    };
    /// Handles one received frame: presence, callbacks and dispatch to proxies.
    void canMsgCallback(can_frame_data* frame);

    void storeCallbacks(std::function<void(unsigned int, unsigned char)> new_device,
                        std::function<void(unsigned int)> device_lost);

    Interface* owner;
    kinetra::LogSink log;

    std::atomic<bool> is_device{false};
    std::atomic<uint32_t> assigned_id{0xFFFFFFFFu};
    std::mutex assigned_mutex;
    std::condition_variable assigned_cv;

    /// Reports the adapter gone: presence emptied with a lost callback per node,
    /// then the adapter-lost callback. Receive thread.
    void onAdapterLost(const char* reason);

    std::atomic<bool> running{false};
    // Between a successful initInterface() and closeInterface().
    std::atomic<bool> open{false};
    std::atomic<bool> adapter_lost{false};
    // Standard-identifier frames outside a firmware update are logged once.
    std::atomic<bool> standard_frame_logged{false};
    // Expires with the interface; handed to proxies as a weak reference.
    std::shared_ptr<const int> lifetime = std::make_shared<const int>(0);
    kinetra::StopSignal stop;
    std::mutex send_mutex;

    // Held while the receive thread calls into a proxy, so that a proxy is never
    // called once unregisterCANMsgCallback() has returned.
    std::mutex registry_mutex;
    std::map<uint32_t, CANDeviceType*> devices;

    kinetra::PresenceTable presence;

    std::future<void> recv_future;
    std::future<void> heartbeat_future;

    // The callbacks are stored by initInterface while the threads already run.
    std::mutex callback_mutex;
    std::function<void(unsigned int, unsigned char)> newDeviceCallback;
    std::function<void(unsigned int)> deviceLostCallback;
    std::function<void()> adapterLostCallback;

    // Swapped under its own lock, so a monitor may attach while frames arrive.
    std::mutex observer_mutex;
    std::function<void(const can_frame_data&)> frameObserver;
    void observe(const can_frame_data& frame);
};
