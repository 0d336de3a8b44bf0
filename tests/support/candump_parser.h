#pragma once
// Reads the can-utils log format back, so tests check what the tool writes the
// way the ecosystem's tools will read it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kinetra::test {

struct CandumpRecord {
    double timestamp = 0;
    std::string iface;
    uint32_t id = 0;
    bool extended = false;
    bool remote = false;
    unsigned dlc = 0;
    std::vector<uint8_t> data;
};

/// "(1700000000.123456) can0 0C000181#0011" -> record; nullopt when malformed.
inline std::optional<CandumpRecord> parseCandumpLine(const std::string& line) {
    CandumpRecord record;
    if (line.size() < 4 || line[0] != '(') return std::nullopt;
    const auto close = line.find(") ");
    if (close == std::string::npos) return std::nullopt;
    const std::string stamp = line.substr(1, close - 1);
    const auto dot = stamp.find('.');
    if (dot == std::string::npos || stamp.size() - dot - 1 != 6) return std::nullopt;
    try {
        record.timestamp = std::stod(stamp);
    } catch (...) {
        return std::nullopt;
    }
    const auto space = line.find(' ', close + 2);
    if (space == std::string::npos) return std::nullopt;
    record.iface = line.substr(close + 2, space - close - 2);
    const std::string frame = line.substr(space + 1);
    const auto hash = frame.find('#');
    if (hash != 3 && hash != 8) return std::nullopt;
    record.extended = hash == 8;
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < hash; ++i) {
        if (hex(frame[i]) < 0) return std::nullopt;
        record.id = record.id * 16 + static_cast<uint32_t>(hex(frame[i]));
    }
    const std::string payload = frame.substr(hash + 1);
    if (!payload.empty() && payload[0] == 'R') {
        record.remote = true;
        if (payload.size() == 2 && payload[1] >= '0' && payload[1] <= '8') record.dlc = payload[1] - '0';
        else if (payload.size() != 1) return std::nullopt;
        return record;
    }
    if (payload.size() % 2 != 0 || payload.size() > 16) return std::nullopt;
    for (std::size_t i = 0; i < payload.size(); i += 2) {
        if (hex(payload[i]) < 0 || hex(payload[i + 1]) < 0) return std::nullopt;
        record.data.push_back(static_cast<uint8_t>(hex(payload[i]) * 16 + hex(payload[i + 1])));
    }
    record.dlc = static_cast<unsigned>(record.data.size());
    return record;
}

}  // namespace kinetra::test
