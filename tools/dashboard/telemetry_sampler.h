#pragma once
// Everything the dashboard reads from the devices for its plots and status
// lines, in one place: how the reads are grouped into control cycles is this
// file's business alone.

#include "cli/device_text.h"

#include <kinetra/interface.h>

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

class Driver;
class Actuator;
class Vorlex;

namespace kinetra::dashboard {

/// One plotted quantity of a device class.
struct Channel {
    std::string name;  ///< "position", "bus_voltage", ...
    std::string unit;  ///< "turns", "V", ...
};

/// The channels of a class, in the order of NodeSample::values.
const std::vector<Channel>& channelsOf(cli::DeviceClass device_class);

/// One round's values of one node; NaN where a read was not answered.
struct NodeSample {
    unsigned node = 0;
    std::vector<double> values;
};

/// What a node reports about its health.
struct NodeStatus {
    unsigned node = 0;
    bool answered = false;
    unsigned state = 0;        ///< controller state (motors)
    unsigned long error = 0;   ///< error code
    unsigned long fault = 0;   ///< fault word (motors)
};

class TelemetrySampler {
public:
    /// Reads through `bus`, which must outlive the sampler.
    explicit TelemetrySampler(Interface& bus);
    ~TelemetrySampler();
    TelemetrySampler(const TelemetrySampler&) = delete;
    TelemetrySampler& operator=(const TelemetrySampler&) = delete;

    /// Sets the nodes to read (id -> device type code) and turns on the reports
    /// an IMU answers only when on, at `rate_hz`.
    void setNodes(const std::map<unsigned, unsigned>& nodes, double rate_hz);
    /// Reads one round of every node's channels. Slowly changing ones
    /// (temperatures, bus voltage and current) are read every `slow_every`-th
    /// round and repeated in between.
    std::vector<NodeSample> sample();
    /// Reads the state, error code and fault word of every node.
    std::vector<NodeStatus> status();

    /// The proxy of a driver (an actuator) among the nodes, or nullptr. The
    /// interface routes a node's replies to one proxy: commands use these.
    Driver* driver(unsigned node);
    Actuator* actuator(unsigned node);
    Vorlex* encoder(unsigned node);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

/// Every how many rounds the slow channels are read.
constexpr unsigned kSlowChannelEvery = 10;

}  // namespace kinetra::dashboard
