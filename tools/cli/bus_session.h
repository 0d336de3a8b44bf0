#pragma once
// The bus a subcommand works on: the adapter, any SLCAN port, or an in-process
// simulator or a SocketCAN interface, opened with the library's USBInterface,
// SlcanInterface or SocketCANInterface.

#include "cli/stop_flag.h"

#include <kinetra/socketcan_interface.h>
#include <kinetra/usb_interface.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>

namespace kinetra::sim {
class Simulator;
}

namespace kinetra::cli {

/// How the user chose the bus.
struct BusChoice {
    std::string port;      ///< --port: the adapter, with its description check
    std::string slcan;     ///< --slcan: any SLCAN port, no check
    bool sim = false;      ///< --sim: driver 1, actuator 2, IMU 3, encoder 4 in-process
    std::string socketcan; ///< --socketcan: a Linux CAN network interface (can0, vcan0)
    std::string bit_rate;  ///< --bitrate: a name or bit/s; empty for the default
    bool reconnect = false;  ///< --reconnect: wait for a lost adapter to come back

    /// The chosen CAN bit rate: --bitrate, else 500 kbit/s, the rate of the
    /// devices as they ship and of the simulator.
    CANBaudRate rate() const;
};

/// The answer to --sim, kinetra sim and kinetra share in a build without the
/// simulator (Windows: it serves Linux pseudo-terminals).
constexpr const char* kSimulatorAbsent =
    "the simulator is not built into this kinetra (it runs on Linux): run kinetra-sim there and reach it "
    "through a serial port, with --slcan PORT";

/// How long the tool waits for a node's first heartbeat.
constexpr std::chrono::milliseconds kPresenceWait{1200};
/// How often --reconnect looks for a lost adapter's port again.
constexpr std::chrono::milliseconds kReconnectRetry{250};

class BusSession {
public:
    /// Starts the simulator, when chosen, so that its port is listed; opens nothing.
    BusSession(const BusChoice& choice, StopFlag& stop);
    /// Closes the interface, then stops the simulator.
    ~BusSession();
    BusSession(const BusSession&) = delete;
    BusSession& operator=(const BusSession&) = delete;

    /// Opens the chosen port (KINETRA_PORT, then the one adapter present, when
    /// none was chosen). Throws CliError(kExitNoAdapter) when that fails.
    void open();
    /// The open interface.
    Interface& bus() { return *bus_; }
    /// The adapter behind the bus, for its own queries; nullptr on SocketCAN.
    USBInterface* adapter() { return bus_ ? adapter_ : nullptr; }
    /// The port that was opened.
    const std::string& portName() const { return port_; }
    /// The in-process simulator, or nullptr.
#if KINETRA_TOOL_SIM
    kinetra::sim::Simulator* simulator() { return sim_.get(); }
#endif

    /// Waits until `node` has sent a heartbeat, at most kPresenceWait or until a
    /// stop; returns its device type code. Throws CliError(kExitDevice) naming the
    /// node when it does not appear, and CliError(kExitInterrupted) on a stop; a
    /// lost adapter is handled as checkAdapter() does, the wait starting again
    /// once it is back.
    unsigned waitForNode(unsigned node);
    /// Does nothing while the adapter is there. Once it was lost: throws
    /// CliError(kExitNoAdapter) with the line that says so or, with --reconnect,
    /// says so on standard error, waits for the port to come back (a stop throws
    /// CliError(kExitInterrupted)), opens it again and returns true.
    bool checkAdapter();
    /// Waits `duration` (or until a stop) and returns the nodes heard: id -> type code.
    std::map<unsigned, unsigned> listen(std::chrono::milliseconds duration);
    /// Switches the bus to `rate`, waits `duration` (or until a stop) and returns
    /// the nodes whose heartbeats arrived meanwhile. The presence table cannot
    /// tell this: it keeps a node heard at the previous rate for a second.
    std::map<unsigned, unsigned> listenAt(CANBaudRate rate, std::chrono::milliseconds duration);

    /// Appearance and loss events for the monitor; called on the library's threads.
    void onPresence(std::function<void(unsigned node, unsigned type, bool present)> callback);
    /// Every received frame, for the monitor; called on the receive thread.
    void onFrame(std::function<void(const can_frame_data&)> callback);

private:
    /// Opens the port with the interface made by open(), announces the host and
    /// checks the adapter; throws CliError(kExitNoAdapter), leaving it closed.
    void attach(bool check_description);

    BusChoice choice_;
    StopFlag& stop_;
#if KINETRA_TOOL_SIM
    std::unique_ptr<kinetra::sim::Simulator> sim_;
#endif
    std::unique_ptr<Interface> bus_;
    USBInterface* adapter_ = nullptr;
    std::string port_;
    bool check_description_ = true;
    bool socketcan_ = false;         ///< the bus is a Linux CAN interface, not a serial port
    std::ostringstream open_log_;    ///< the SocketCAN transport's account of an open

    std::mutex mutex_;
    std::map<unsigned, unsigned> seen_;
    /// Node heartbeats since the last listenAt() switch: id -> type code.
    std::map<unsigned, unsigned> heartbeats_;
    std::function<void(unsigned, unsigned, bool)> presence_callback_;
    std::function<void(const can_frame_data&)> frame_callback_;
};

}  // namespace kinetra::cli
