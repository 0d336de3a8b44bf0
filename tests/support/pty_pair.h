#pragma once
// A pseudo-terminal pair standing in for a USB serial adapter in tests: the slave
// side is the "port" that serial::Serial opens, the master side is the "device".

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>

namespace kinetra::test {

/// Owns one pseudo-terminal pair. The slave is set to raw mode (no echo, no line
/// editing, no CR/LF translation) so bytes pass unchanged in both directions.
///
/// The pair keeps a descriptor of its own on the slave for its whole life, so
/// that the pty survives any number of open/close cycles by the code under test
/// and the master never sees a hang-up merely because no one has the slave open.
/// closeMaster() is the way to make the port vanish (an unplugged adapter).
///
/// Master-side helpers may be used from one thread at a time besides the code
/// under test; reads and writes on the master are each serialised internally.
class PtyPair {
public:
    /// Opens the pair; throws std::runtime_error when the system refuses.
    PtyPair();
    /// Closes both sides.
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    /// The slave device path, e.g. /dev/pts/7: what serial::Serial opens.
    const std::string& slavePath() const { return slave_path_; }
    /// The master descriptor (non-blocking), -1 after closeMaster().
    int masterFd() const { return master_fd_; }
    /// Whether the master side is still open.
    bool masterOpen() const { return master_fd_ >= 0; }

    /// Writes all of `bytes` to the master, i.e. the device "sends" them to the
    /// port. Waits at most `timeout` for room; returns false when not all bytes
    /// could be written in time or the master is closed.
    bool writeToMaster(const std::string& bytes,
                       std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

    /// Reads what the port wrote, returning as soon as `count` bytes have been
    /// gathered or when `timeout` has passed (then with fewer, maybe none).
    /// Bytes beyond `count` that already arrived are kept for the next call.
    std::string readFromMaster(std::size_t count,
                               std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

    /// Reads until the bytes gathered end with `terminator` or `timeout` passes;
    /// returns everything gathered up to and including the terminator. Bytes after
    /// the terminator are kept for the next call.
    std::string readUntilFromMaster(const std::string& terminator,
                                    std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

    /// Closes the master: the port vanishes as if the adapter were unplugged.
    /// Readers and writers on the slave then see EIO / POLLHUP.
    void closeMaster();

private:
    /// Reads whatever is available into pending_, waiting at most until `deadline`;
    /// false when nothing more can arrive (deadline passed or master closed).
    bool fillPending(std::chrono::steady_clock::time_point deadline);

    int master_fd_ = -1;
    int slave_fd_ = -1;
    std::string slave_path_;
    std::string pending_;  // bytes read from the master but not yet handed out
    std::mutex read_mutex_;
    std::mutex write_mutex_;
};

}  // namespace kinetra::test
