#include <kinetra/intel_hex.h>

#include <algorithm>
#include <fstream>
#include <iomanip>
#include <sstream>

namespace intelhex {
namespace {

// The longest well-formed record: count, address, type, 255 data bytes and the
// checksum as hex digits, and a carriage return. Anything longer is refused
// without reading on, so a hostile file cannot make a line eat the memory.
constexpr std::size_t kMaxDataBytes = 255;
constexpr std::size_t kRecordOverhead = 5;  // count, address (2), type, checksum
constexpr std::size_t kMaxLineLength = 2 * (kRecordOverhead + kMaxDataBytes) + 1;
constexpr uint64_t kAddressSpace = uint64_t{1} << 32;
constexpr std::size_t kBaseRecordCount = 2;

enum RecordType : uint8_t {
    kData = 0,
    kEndOfFile = 1,
    kSegmentBase = 2,
    kSegmentStart = 3,
    kLinearBase = 4,
    kLinearStart = 5,
};

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

enum class LineEnd { LineFeed, EndOfStream, TooLong };

// Reads up to the line feed (consumed, not kept); says how the line ended.
LineEnd readLine(std::streambuf& in, std::string& line) {
    line.clear();
    for (;;) {
        const auto c = in.sbumpc();
        if (c == std::char_traits<char>::eof()) return LineEnd::EndOfStream;
        if (c == '\n') return LineEnd::LineFeed;
        if (line.size() == kMaxLineLength) return LineEnd::TooLong;
        line.push_back(static_cast<char>(c));
    }
}

std::string hexText(uint64_t value, int digits) {
    std::ostringstream text;
    text << std::hex << std::uppercase << std::setfill('0') << std::setw(digits) << value;
    return text.str();
}

std::string addressText(uint64_t address) { return "0x" + hexText(address, 8); }

}  // namespace

const char* readStopName(read_stop_t reason) {
    switch (reason) {
        case read_stop_t::NotRead: return "not read";
        case read_stop_t::EndOfFileRecord: return "end-of-file record";
        case read_stop_t::BadChecksum: return "bad checksum";
        case read_stop_t::BadRecord: return "bad record";
        case read_stop_t::NoColon: return "line not starting with ':'";
        case read_stop_t::EndOfStream: return "end of file before the end-of-file record";
        case read_stop_t::UnknownRecordType: return "unknown record type";
        case read_stop_t::OverlappingData: return "overlapping data";
        case read_stop_t::Truncated: return "truncated record";
    }
    return "unknown";
}

void hex_data::load(const std::string& path) {
    std::ifstream in(path, std::ios::in | std::ios::binary);
    if (!in.is_open()) {
        stop(read_stop_t::NoColon, 0, "the file cannot be opened");
        return;
    }
    read(in);
}

uint64_t hex_data::size() const {
    uint64_t total = 0;
    for (const auto& block : blocks) total += block.second.size();
    return total;
}

std::string hex_data::stopDescription() const {
    if (stop_line_ == 0) return stop_detail_;
    return "line " + std::to_string(stop_line_) + ": " + stop_detail_;
}

void hex_data::stop(read_stop_t reason, std::size_t line, std::string detail) {
    stop_ = reason;
    stop_line_ = line;
    stop_detail_ = std::move(detail);
}

void hex_data::read(std::istream& in) {
    std::streambuf* buffer = in.rdbuf();
    if (buffer == nullptr || !in.good()) {
        stop(read_stop_t::NoColon, 0, "the stream cannot be read");
        return;
    }
    const auto eof = std::char_traits<char>::eof();
    uint32_t base = 0;
    std::string line;
    std::vector<uint8_t> bytes;
    line.reserve(kMaxLineLength);
    bytes.reserve(kMaxLineLength / 2);

    std::size_t line_number = 1;
    for (auto first = buffer->sbumpc();; first = buffer->sbumpc(), ++line_number) {
        if (first == eof) {
            if (line_number == 1) {
                stop(read_stop_t::NoColon, 1, "the file is empty");
            } else {
                stop(read_stop_t::EndOfStream, line_number - 1,
                     "the file ends after this line without an end-of-file record (type 01)");
            }
            return;
        }
        if (first != ':') {
            stop(read_stop_t::NoColon, line_number, "the line does not start with ':'");
            return;
        }
        const LineEnd end = readLine(*buffer, line);
        if (end == LineEnd::TooLong) {
            stop(read_stop_t::BadRecord, line_number,
                 "the line is longer than any record (" + std::to_string(kMaxLineLength + 1) + " characters)");
            return;
        }
        if (!readRecord(line, line_number, end == LineEnd::LineFeed, bytes, base)) return;
    }
}

bool hex_data::readRecord(const std::string& line, std::size_t number, bool line_complete,
                          std::vector<uint8_t>& bytes, uint32_t& base) {
    std::size_t length = line.size();
    if (length > 0 && line[length - 1] == '\r') --length;
    for (std::size_t i = 0; i < length; ++i) {
        if (hexValue(line[i]) < 0) {
            stop(read_stop_t::BadRecord, number,
                 "character " + std::to_string(i + 2) + " is not a hexadecimal digit");
            return false;
        }
    }
    // All hex digits: the count says how many the record needs.
    const std::size_t least = 2 * kRecordOverhead;
    const std::size_t count = length < 2 ? 0 : static_cast<std::size_t>(hexValue(line[0]) * 16 + hexValue(line[1]));
    const std::size_t needed = length < 2 ? least : 2 * (kRecordOverhead + count);
    if (length < needed) {
        if (!line_complete) {
            // The stream ended inside the record: a download or copy cut short.
            stop(read_stop_t::Truncated, number,
                 "the file ends inside this record (" + std::to_string(length) + " of its " + std::to_string(needed) +
                     " hex digits)");
        } else {
            stop(read_stop_t::BadRecord, number,
                 "the record is too short for its count (" + std::to_string(length) + " of " +
                     std::to_string(needed) + " hex digits)");
        }
        return false;
    }
    if (length > needed) {
        stop(read_stop_t::BadRecord, number,
             "the record is longer than its count says (" + std::to_string(length) + " hex digits, not " +
                 std::to_string(needed) + ")");
        return false;
    }
    bytes.clear();
    for (std::size_t i = 0; i < length; i += 2) {
        bytes.push_back(static_cast<uint8_t>(hexValue(line[i]) * 16 | hexValue(line[i + 1])));
    }
    uint8_t sum = 0;
    for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
    if (sum != 0) {
        stop(read_stop_t::BadChecksum, number,
             "bad checksum (the record's bytes add up to 0x" + hexText(sum, 2) + ", not 0)");
        return false;
    }
    const uint32_t offset = static_cast<uint32_t>(bytes[1]) << 8 | bytes[2];
    const uint8_t type = bytes[3];
    const uint8_t* data = bytes.data() + 4;
    switch (type) {
        case kData: {
            const uint32_t address = base + offset;
            if (address + uint64_t{count} > kAddressSpace) {
                stop(read_stop_t::BadRecord, number, "the data at " + addressText(address) + " runs past 4 GiB");
                return false;
            }
            if (conflicts(number, address, data, count)) return false;
            store(address, data, count);
            return true;
        }
        case kEndOfFile: stop(read_stop_t::EndOfFileRecord, number, ""); return false;
        case kSegmentBase:
        case kLinearBase: {
            // A malformed base record must not be skipped: the data after it would
            // land at the previous base, usually address 0.
            const char* name = type == kSegmentBase ? "extended segment address record (type 02)"
                                                    : "extended linear address record (type 04)";
            if (count != kBaseRecordCount || offset != 0) {
                stop(read_stop_t::BadRecord, number,
                     std::string("malformed ") + name + ": count " + hexText(count, 2) + " and address " +
                         hexText(offset, 4) + ", expected count 02 and address 0000");
                return false;
            }
            const uint32_t value = static_cast<uint32_t>(data[0]) << 8 | data[1];
            if (type == kSegmentBase) {
                base = value << 4;
                segment_addr_rec = true;
            } else {
                base = value << 16;
                linear_addr_rec = true;
            }
            return true;
        }
        case kSegmentStart:
        case kLinearStart: return true;  // a start address: nothing to store
        default:
            stop(read_stop_t::UnknownRecordType, number,
                 "record type " + hexText(type, 2) + " is not one of 00 to 05");
            return false;
    }
}

bool hex_data::conflicts(std::size_t number, uint32_t address, const uint8_t* data, std::size_t count) {
    const uint64_t end = uint64_t{address} + count;
    auto it = blocks.upper_bound(address);
    if (it != blocks.begin()) --it;
    for (; it != blocks.end() && it->first < end; ++it) {
        const uint64_t start = it->first;
        const uint64_t from = std::max<uint64_t>(start, address);
        const uint64_t to = std::min<uint64_t>(start + it->second.size(), end);
        for (uint64_t at = from; at < to; ++at) {
            const uint8_t before = it->second[static_cast<std::size_t>(at - start)];
            const uint8_t now = data[at - address];
            if (before == now) continue;
            stop(read_stop_t::OverlappingData, number,
                 "data at " + addressText(at) + " overlaps an earlier record with a different byte (0x" +
                     hexText(now, 2) + ", was 0x" + hexText(before, 2) + ")");
            return true;
        }
    }
    return false;
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
