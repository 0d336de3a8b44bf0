#include "cli/bus_session.h"

#include "cli/adapter_probe.h"
#include "cli/device_text.h"
#include "cli/error_text.h"
#include "cli/exit_codes.h"
#include "cli/output.h"
#include "cli/port_list.h"
#include "cli/quiet_messages.h"

#include "can/bus.h"
#if KINETRA_TOOL_SIM
#include "kinetra_sim/simulator.h"
#endif

#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <exception>

namespace kinetra::cli {

namespace {

/// The first line of a log, without the transport's prefix.
std::string firstLine(const std::string& log) {
    std::string line = log.substr(0, log.find('\n'));
    const std::string prefix = "SocketCAN: ";
    if (line.compare(0, prefix.size(), prefix) == 0) line.erase(0, prefix.size());
    return line;
}

/// The last line of a log, without the transport's prefix.
std::string lastLine(std::string log) {
    while (!log.empty() && log.back() == '\n') log.pop_back();
    return firstLine(log.substr(log.rfind('\n') == std::string::npos ? 0 : log.rfind('\n') + 1));
}
/// Whether a lost adapter's port is back to try: its device file is there again.
/// A CAN interface, and a COM port on Windows (no file to look at), are tried
/// every round.
bool portPresent(const std::string& port, bool socketcan) {
#ifdef _WIN32
    (void)port;
    (void)socketcan;
    return true;
#else
    return socketcan || ::access(port.c_str(), F_OK) == 0;
#endif
}

/// How long after a bit-rate change frames of the previous rate may still arrive.
constexpr std::chrono::milliseconds kRateSettle{100};

#if KINETRA_TOOL_SIM
const std::vector<kinetra::sim::NodeSetup> kSimulatedBus = {{kinetra::sim::NodeKind::Driver, 1},
                                                            {kinetra::sim::NodeKind::Actuator, 2},
                                                            {kinetra::sim::NodeKind::Imu, 3},
                                                            {kinetra::sim::NodeKind::Encoder, 4}};
#endif

/// A node's own heartbeat: never a host's, whose frame carries the master flag.
bool isNodeHeartbeat(const can_frame_data& frame, unsigned* node, unsigned* type) {
    can_frame_data copy = frame;
    if (getCommandIdFromFrame(&copy) != kinetra::protocol::kHeartbeat || getDeviceTypeFromFrame(&copy) == 0) {
        return false;
    }
    can_node_id master;
    master.master = 1;
    if ((copy.can_id & setNodeIDForFrame(master)) != 0) return false;
    *node = getDeviceIdFromFrame(&copy);
    *type = getDeviceTypeFromFrame(&copy);
    return true;
}
}  // namespace

CANBaudRate BusChoice::rate() const {
    if (bit_rate.empty()) return CAN_BAUD_500K;
    const auto parsed = parseBitRate(bit_rate);
    return parsed ? *parsed : CAN_BAUD_500K;
}

BusSession::BusSession(const BusChoice& choice, StopFlag& stop) : choice_(choice), stop_(stop) {
    if (!choice_.sim) return;
#if KINETRA_TOOL_SIM
    sim_ = std::make_unique<kinetra::sim::Simulator>(kSimulatedBus);
    sim_->start();
    sim_->registerAsAdapter();
#else
    throw CliError(kExitUsage, kSimulatorAbsent);
#endif
}

BusSession::~BusSession() {
    if (bus_) {
        try {
            bus_->closeInterface();
        } catch (const std::exception&) {
            // A worker's failure has been reported through the results already.
        }
        bus_.reset();
    }
#if KINETRA_TOOL_SIM
    if (sim_) sim_->stop();
#endif
}

void BusSession::open() {
    bool check_description = true;
    socketcan_ = !choice_.sim && !choice_.socketcan.empty();
#if KINETRA_TOOL_SIM
    if (sim_) {
        port_ = sim_->portName();
    } else
#endif
    if (socketcan_) {
        port_ = choice_.socketcan;
        check_description = false;
    } else if (!choice_.slcan.empty()) {
        port_ = choice_.slcan;
        check_description = false;
    } else if (!choice_.port.empty()) {
        port_ = choice_.port;
    } else if (const char* from_environment = std::getenv("KINETRA_PORT"); from_environment && *from_environment) {
        port_ = from_environment;
    } else {
        port_ = chooseAdapter(listPorts());
    }
    // A generic adapter opens its channel at the rate the host names: 500 kbit/s
    // unless --bitrate says otherwise, the rate a firmware update leaves the bus
    // at and the simulator's default.
    if (socketcan_) {
#ifdef _WIN32
        throw CliError(kExitUsage, "--socketcan " + port_ + ": CAN network interfaces are Linux's; the Windows build has none");
#else
        bus_ = std::make_unique<SocketCANInterface>();
#endif
    } else if (check_description) {
        auto adapter = std::make_unique<USBInterface>();
        adapter_ = adapter.get();
        bus_ = std::move(adapter);
    } else {
        // Before the library opens it: a port that answers nothing an adapter
        // would (a silent pty, a serial port with nothing behind it) would
        // otherwise read as a bus without nodes.
        if (probeAdapter(port_) == ProbeResult::Silent) {
            throw CliError(kExitNoAdapter, "no adapter answered on " + port_ +
                                               " (nothing came back to an SLCAN version query)");
        }
        auto adapter = std::make_unique<SlcanInterface>(choice_.rate());
        adapter_ = adapter.get();
        bus_ = std::move(adapter);
    }
    check_description_ = check_description;
    // Every frame wakes the waits: the library enters a node into its presence
    // table only after the appearance callback, so a wait for a node ends at the
    // frame after its first heartbeat.
    bus_->setFrameObserver([this](const can_frame_data& frame) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            unsigned node = 0, type = 0;
            if (isNodeHeartbeat(frame, &node, &type)) heartbeats_[node] = type;
            if (frame_callback_) frame_callback_(frame);
        }
        stop_.notify();
    });
    // On the receive thread, which then reads no more; the main thread's waits
    // wake and end the run, or reconnect.
    bus_->setAdapterLostCallback([this] {
        stop_.adapterLost("adapter lost: " + port_ + " went away" +
                          (choice_.reconnect ? std::string() : " (--reconnect waits for it to come back)"));
    });
    try {
        attach(check_description);
    } catch (const CliError&) {
        bus_.reset();
        throw;
    }
}

void BusSession::attach(bool check_description) {
    auto appeared = [this](unsigned node, unsigned char type) {
        std::function<void(unsigned, unsigned, bool)> callback;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            seen_[node] = type;
            callback = presence_callback_;
        }
        if (callback) callback(node, type, true);
        stop_.notify();
    };
    auto lost = [this](unsigned node) {
        std::function<void(unsigned, unsigned, bool)> callback;
        unsigned type = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            type = seen_.count(node) != 0 ? seen_[node] : 0;
            callback = presence_callback_;
        }
        if (callback) callback(node, type, false);
    };
    // The SocketCAN transport says in its log why an interface cannot be opened
    // or take a bit rate; the log is read for the one-line error, then silenced.
    if (socketcan_) {
        open_log_.str("");
        bus_->setOutputLogStream(&open_log_);
    }
    bool opened = false;
    std::string reason;
    try {
        // The library prints its own account of a failed open, with the place in
        // its sources; the tool's one line below says the same for people.
        QuietMessages quiet;
        opened = bus_->initInterface(port_, appeared, lost) != 0;
    } catch (const NoCompatibleDeviceException&) {
        reason = "its description does not name a Kinetra adapter (use --slcan for another SLCAN adapter)";
    } catch (const std::exception& error) {
        reason = causeOf(error);
    }
    if (socketcan_ && !opened) {
        bus_->setOutputLogStream(nullptr);
        if (reason.empty()) reason = firstLine(open_log_.str());
    }
    if (!opened) {
        throw CliError(kExitNoAdapter,
                       "cannot open " + port_ + ": " + (reason.empty() ? std::string("open failed") : reason));
    }
    const auto fail = [this](const std::string& message) {
        if (socketcan_) bus_->setOutputLogStream(nullptr);
        bus_->closeInterface();
        throw CliError(kExitNoAdapter, message);
    };
    // The library refuses device operations until a send has succeeded; the
    // heartbeat thread's first one may come after the first node's heartbeat, so
    // the tool announces the host itself at once.
    can_frame_data announce = kinetra::protocol::masterHeartbeatFrame();
    if (bus_->sendFrame(&announce) == 0) fail("cannot send on " + port_ + ": the write failed");
    if (check_description && !choice_.sim && adapter_ != nullptr) {
        // The adapter answers its version query at once; a port that does not is
        // no working adapter, whatever its description says.
        uint8_t major = 0, minor = 0, patch = 0;
        std::string tag;
        if (adapter_->getFirmwareVersion(&major, &minor, &patch, &tag) != RET_INTERFACE_OK) {
            fail("no adapter answered on " + port_ + " (no reply to its version query)");
        }
    }
    // The Zarvo and a CAN interface keep the rate they were last given; they
    // change only when asked.
    if ((check_description || socketcan_) && !choice_.bit_rate.empty() &&
        bus_->setCANBaudRate(choice_.rate()) != RET_INTERFACE_OK) {
        fail("cannot set the bit rate on " + port_ + (socketcan_ ? ": " + lastLine(open_log_.str()) : std::string()));
    }
    if (socketcan_) bus_->setOutputLogStream(nullptr);
}

bool BusSession::checkAdapter() {
    if (!stop_.lost()) return false;
    if (!choice_.reconnect) throw CliError(kExitNoAdapter, stop_.lostLine());
    Output::error(stop_.lostLine() + "; waiting for it to come back (Ctrl-C ends)");
    bus_->closeInterface();
    stop_.clearLost();
    for (;;) {
        if (stop_.waitFor(kReconnectRetry)) throw CliError(kExitInterrupted, "interrupted while waiting for the adapter");
        // A port that is not there yet (a link not made again, a device node not
        // back) is not worth the library's attempt and its complaint.
        if (!portPresent(port_, socketcan_)) continue;
        try {
            attach(check_description_);
        } catch (const CliError&) {
            continue;  // there, but not ready yet: the next round tries again
        }
        Output::error("adapter back on " + port_ + "; carrying on");
        return true;
    }
}

unsigned BusSession::waitForNode(unsigned node) {
    bool present = false;
    do {
        present = stop_.waitUntil(kPresenceWait, [&] { return bus_->isDeviceConnected(node) || stop_.lost(); });
        if (stop_.requested()) throw CliError(kExitInterrupted, "interrupted");
    } while (checkAdapter());
    present = present && bus_->isDeviceConnected(node);
    if (!present) {
        throw CliError(kExitDevice, "node " + std::to_string(node) + ": not on the bus, no heartbeat within " +
                                        std::to_string(kPresenceWait.count()) + " ms (RET_NOT_CONNECTED)");
    }
    const auto devices = bus_->getConnectedDevices();
    const auto it = devices.find(node);
    return it != devices.end() ? it->second : 0;
}

std::map<unsigned, unsigned> BusSession::listen(std::chrono::milliseconds duration) {
    const auto end = std::chrono::steady_clock::now() + duration;
    // After a reconnect the listening goes on to the end of the time asked for.
    do {
        stop_.waitFor(end - std::chrono::steady_clock::now());
    } while (!stop_.requested() && checkAdapter());
    std::map<unsigned, unsigned> present;
    for (const auto& [node, type] : bus_->getConnectedDevices()) present[node] = type;
    return present;
}

std::map<unsigned, unsigned> BusSession::listenAt(CANBaudRate rate, std::chrono::milliseconds duration) {
    if (bus_->setCANBaudRate(rate) != RET_INTERFACE_OK) {
        throw CliError(kExitNoAdapter, "cannot set the bit rate " + bitRateName(rate) + " on " + port_);
    }
    // Frames the adapter received at the previous rate may still be on their way
    // through the serial line; they are not heard at this one.
    stop_.waitFor(kRateSettle);
    checkAdapter();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        heartbeats_.clear();
    }
    stop_.waitFor(duration);
    checkAdapter();
    std::lock_guard<std::mutex> lock(mutex_);
    return heartbeats_;
}

void BusSession::onFrame(std::function<void(const can_frame_data&)> callback) {
    std::lock_guard<std::mutex> lock(mutex_);
    frame_callback_ = std::move(callback);
}

void BusSession::onPresence(std::function<void(unsigned, unsigned, bool)> callback) {
    std::lock_guard<std::mutex> lock(mutex_);
    presence_callback_ = std::move(callback);
}

}  // namespace kinetra::cli
