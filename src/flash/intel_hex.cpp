#include <kinetra/intel_hex.h>

#include <algorithm>
#include <fstream>

namespace intelhex {
namespace {

// The longest well-formed record: count, address, type, 255 data bytes and the
// checksum as hex digits, and a carriage return. Anything longer is refused
// without reading on, so a hostile file cannot make a line eat the memory.
constexpr std::size_t kMaxLineLength = 2 * (1 + 2 + 1 + 255 + 1) + 1;
constexpr std::size_t kRecordOverhead = 5;  // count, address (2), type, checksum
constexpr uint64_t kAddressSpace = uint64_t{1} << 32;

enum RecordType : uint8_t { kData = 0, kEndOfFile = 1, kSegmentBase = 2, kLinearBase = 4 };

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Reads up to the line feed (consumed, not kept). False when the line is longer
// than any record may be.
bool readLine(std::streambuf& in, std::string& line) {
    line.clear();
    for (;;) {
        const auto c = in.sbumpc();
        if (c == std::char_traits<char>::eof() || c == '\n') return true;
        if (line.size() == kMaxLineLength) return false;
        line.push_back(static_cast<char>(c));
    }
}

// The line's bytes, two digits each; false on anything but an even run of hex digits.
bool decode(const std::string& line, std::vector<uint8_t>& bytes) {
    std::size_t length = line.size();
    if (length > 0 && line[length - 1] == '\r') --length;
    if (length % 2 != 0) return false;
    bytes.clear();
    for (std::size_t i = 0; i < length; i += 2) {
        const int high = hexValue(line[i]);
        const int low = hexValue(line[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes.push_back(static_cast<uint8_t>(high * 16 | low));
    }
    return true;
}

}  // namespace

const char* readStopName(read_stop_t reason) {
    switch (reason) {
        case read_stop_t::NotRead: return "not read";
        case read_stop_t::EndOfFileRecord: return "end-of-file record";
        case read_stop_t::BadChecksum: return "bad checksum";
        case read_stop_t::BadRecord: return "bad record";
        case read_stop_t::NoColon: return "line not starting with ':'";
        case read_stop_t::EndOfStream: return "end of file before the end-of-file record";
    }
    return "unknown";
}

void hex_data::load(const std::string& path) {
    std::ifstream in(path, std::ios::in | std::ios::binary);
    if (!in.is_open()) {
        stop_ = read_stop_t::NoColon;
        return;
    }
    read(in);
}

uint64_t hex_data::size() const {
    uint64_t total = 0;
    for (const auto& block : blocks) total += block.second.size();
    return total;
}

void hex_data::read(std::istream& in) {
    std::streambuf* buffer = in.rdbuf();
    if (buffer == nullptr || !in.good()) {
        stop_ = read_stop_t::NoColon;
        return;
    }
    const auto eof = std::char_traits<char>::eof();
    uint32_t base = 0;
    std::string line;
    std::vector<uint8_t> bytes;
    line.reserve(kMaxLineLength);
    bytes.reserve(kMaxLineLength / 2);

    std::size_t records = 0;
    auto first = buffer->sbumpc();
    for (;;) {
        if (first != ':') {
            // An empty file is no image either: it counts as one without a colon.
            stop_ = first == eof && records > 0 ? read_stop_t::EndOfStream : read_stop_t::NoColon;
            return;
        }
        if (!readLine(*buffer, line) || !decode(line, bytes) || bytes.size() < kRecordOverhead) {
            stop_ = read_stop_t::BadRecord;
            return;
        }
        uint8_t sum = 0;
        for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
        if (sum != 0) {
            stop_ = read_stop_t::BadChecksum;
            return;
        }
        const std::size_t count = bytes[0];
        if (count + kRecordOverhead != bytes.size()) {
            stop_ = read_stop_t::BadRecord;
            return;
        }
        const uint32_t offset = static_cast<uint32_t>(bytes[1]) << 8 | bytes[2];
        const uint8_t type = bytes[3];
        const uint8_t* data = bytes.data() + 4;
        switch (type) {
            case kData: {
                const uint32_t address = base + offset;
                if (address + uint64_t{count} > kAddressSpace) {
                    stop_ = read_stop_t::BadRecord;
                    return;
                }
                store(address, data, count);
                break;
            }
            case kEndOfFile: stop_ = read_stop_t::EndOfFileRecord; return;
            case kSegmentBase:
                if (offset == 0 && count == 2) {
                    base = (static_cast<uint32_t>(data[0]) << 8 | data[1]) << 4;
                    segment_addr_rec = true;
                }
                break;
            case kLinearBase:
                if (offset == 0 && count == 2) {
                    base = (static_cast<uint32_t>(data[0]) << 8 | data[1]) << 16;
                    linear_addr_rec = true;
                }
                break;
            default: break;  // start addresses and unknown types carry nothing to store
        }
        ++records;
        first = buffer->sbumpc();
    }
}

void hex_data::store(uint32_t address, const uint8_t* data, std::size_t count) {
    // 64-bit positions: the caller made sure address + count fits in 4 GiB.
    uint64_t at = address;
    auto it = blocks.upper_bound(address);
    if (it != blocks.begin()) {
        auto before = std::prev(it);
        if (before->first + uint64_t{before->second.size()} > at) it = before;
    }
    while (count > 0 && it != blocks.end()) {
        const uint64_t start = it->first;
        const uint64_t end = start + it->second.size();
        if (start <= at && at < end) {
            const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(count, end - at));
            std::copy(data, data + n, it->second.begin() + static_cast<std::ptrdiff_t>(at - start));
            at += n;
            data += n;
            count -= n;
            ++it;
        } else if (at < start && start < at + count) {
            const std::size_t n = static_cast<std::size_t>(start - at);
            blocks.emplace(static_cast<uint32_t>(at), std::vector<uint8_t>(data, data + n));
            at += n;
            data += n;
            count -= n;
        } else if (start >= at + count) {
            break;
        } else {
            ++it;
        }
    }
    if (count > 0) blocks.emplace(static_cast<uint32_t>(at), std::vector<uint8_t>(data, data + count));
}

}  // namespace intelhex
