#include "dashboard/recorder.h"

#include "cli/frame_text.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>

namespace kinetra::dashboard {

namespace {

/// The interface name candump lines carry.
constexpr const char* kCandumpInterface = "can0";

std::string number(double value, const char* format) {
    if (!std::isfinite(value)) return {};
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

void Recorder::start() {
    std::lock_guard<std::mutex> lock(mutex_);
    rows_.clear();
    frames_.clear();
    full_ = false;
    recording_ = true;
}

void Recorder::stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    recording_ = false;
}

bool Recorder::recording() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return recording_;
}

bool Recorder::full() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return full_;
}

void Recorder::addRound(double time, std::uint64_t sequence, const std::vector<NodeSample>& samples,
                        const std::map<unsigned, const std::vector<Channel>*>& channels) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!recording_) return;
    for (const NodeSample& sample : samples) {
        if (rows_.size() >= kMaxRecordedSamples) {
            full_ = true;
            return;
        }
        const auto found = channels.find(sample.node);
        if (found == channels.end()) continue;
        rows_.push_back({time, sequence, sample.node, found->second, sample.values});
    }
}

void Recorder::addFrame(const can_frame_data& frame, double unix_seconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!recording_) return;
    if (frames_.size() >= kMaxRecordedFrames) {
        full_ = true;
        return;
    }
    frames_.push_back({frame, unix_seconds});
}

std::string Recorder::csv() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text = "time,sequence,node,channel,value\n";
    for (const Row& row : rows_) {
        const std::string prefix = number(row.time, "%.6f") + "," + std::to_string(row.sequence) + "," +
                                   std::to_string(row.node) + ",";
        for (std::size_t i = 0; i < row.values.size() && i < row.channels->size(); ++i) {
            text += prefix + (*row.channels)[i].name + "," + number(row.values[i], "%.9g") + "\n";
        }
    }
    return text;
}

std::string Recorder::jsonLines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text;
    for (const Row& row : rows_) {
        nlohmann::json values = nlohmann::json::object();
        for (std::size_t i = 0; i < row.values.size() && i < row.channels->size(); ++i) {
            // JSON has no NaN: an unanswered read is null.
            values[(*row.channels)[i].name] =
                std::isfinite(row.values[i]) ? nlohmann::json(row.values[i]) : nlohmann::json(nullptr);
        }
        text += nlohmann::json{{"time", row.time}, {"sequence", row.sequence}, {"node", row.node}, {"values", values}}
                    .dump() +
                "\n";
    }
    return text;
}

std::string Recorder::candump() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text;
    for (const Frame& frame : frames_) text += cli::candumpLine(frame.frame, frame.unix_seconds, kCandumpInterface) + "\n";
    return text;
}

}  // namespace kinetra::dashboard
