#pragma once
// A recording of the telemetry the pages saw and of the raw frames on the bus,
// kept in memory between start and stop and served as CSV, JSON lines and a
// candump log. Thread-safe: samples come from the bus thread, frames from the
// receive thread, downloads from the server's.

#include "dashboard/telemetry_sampler.h"

#include <kinetra/can_frame.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace kinetra::dashboard {

/// How many node samples and frames a recording keeps; it stops taking more then.
constexpr std::size_t kMaxRecordedSamples = 500000;
constexpr std::size_t kMaxRecordedFrames = 1000000;

class Recorder {
public:
    /// Forgets the last recording and starts a new one.
    void start();
    void stop();
    bool recording() const;
    /// Whether the last recording stopped taking samples because it was full.
    bool full() const;

    /// Adds one round (seconds since the dashboard started, its sequence number)
    /// while recording; `names` maps each node to its channel names.
    void addRound(double time, std::uint64_t sequence, const std::vector<NodeSample>& samples,
                  const std::map<unsigned, const std::vector<Channel>*>& channels);
    /// Adds a frame while recording, with the wall-clock time it arrived.
    void addFrame(const can_frame_data& frame, double unix_seconds);

    /// "time,sequence,node,channel,value" and a line per value.
    std::string csv() const;
    /// One JSON object per node sample: {"time", "sequence", "node", "values": {name: value}}.
    std::string jsonLines() const;
    /// The frames in the can-utils log format.
    std::string candump() const;

private:
    struct Row {
        double time;
        std::uint64_t sequence;
        unsigned node;
        const std::vector<Channel>* channels;
        std::vector<double> values;
    };
    struct Frame {
        can_frame_data frame;
        double unix_seconds;
    };

    mutable std::mutex mutex_;
    bool recording_ = false;
    bool full_ = false;
    std::vector<Row> rows_;
    std::vector<Frame> frames_;
};

}  // namespace kinetra::dashboard
