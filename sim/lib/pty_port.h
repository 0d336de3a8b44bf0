#pragma once
// The virtual adapter's serial side: the master end of a pseudo-terminal, read by
// one I/O thread that sleeps in poll() until the host writes, opens or closes the
// port, or the simulator has output queued.
//
// Output goes to the host only while a host has the port open, as with a USB
// adapter, whose frames are lost while no program has its port open: a host that
// opens the port later starts with the live traffic, not with a backlog.

#include "kinetra_sim/adapter_protocol.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace kinetra::sim {

class PtyPort : public HostWire {
public:
    using Consumer = std::function<void(const char* data, std::size_t size)>;
    /// Bytes kept for a host that does not read before the oldest are discarded.
    static constexpr std::size_t kMaxPending = 64 * 1024;

    /// Opens the pair in raw mode; throws std::system_error when the system refuses.
    PtyPort();
    /// Stops the thread and closes both ends.
    ~PtyPort() override;
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    /// The slave device the host opens, e.g. /dev/pts/7.
    const std::string& slavePath() const { return slave_path_; }

    /// Starts the I/O thread, which hands every chunk the host writes to `consumer`.
    void start(Consumer consumer);
    /// Stops and joins the I/O thread. Must not be called from the consumer.
    void stop();
    /// Stops the thread and closes the pty: the host's port fails as when an
    /// adapter is pulled out. Later writes are dropped.
    void unplug();
    bool plugged() const { return plugged_.load(); }

    /// Queues bytes for the host: written at once when the pty has room, else
    /// kept and written by the I/O thread when it has. Thread-safe.
    void writeToHost(std::string_view bytes) override;

    /// Whether a host has the port open (as far as the I/O thread has seen).
    bool hostConnected() const { return host_connected_.load(); }
    /// CPU time of the I/O thread; zero when it does not run.
    std::chrono::nanoseconds ioCpuTime() const;
    /// Bytes discarded because no host had the port open or it did not read them.
    uint64_t bytesDiscarded() const { return bytes_discarded_.load(); }

private:
    void run(const Consumer& consumer);
    void wake();
    void drainWake();
    void flushPendingLocked();
    void watchHostOpens();
    void closeAll();

    int master_fd_ = -1;
    int slave_fd_ = -1;
    int wake_fd_ = -1;
    int watch_fd_ = -1;   // inotify on the slave device: the host's opens and closes
    int host_opens_ = 0;  // I/O thread only
    std::string slave_path_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> plugged_{true};
    std::atomic<bool> host_connected_{false};
    std::atomic<uint64_t> bytes_discarded_{0};

    std::mutex write_mutex_;
    std::string pending_;  // guarded by write_mutex_
};

}  // namespace kinetra::sim
