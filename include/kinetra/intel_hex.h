#pragma once
/// @file intel_hex.h
/// A firmware image read from an Intel HEX file: address-ordered blocks of bytes.

#include <kinetra/export.h>

#include <cstdint>
#include <istream>
#include <map>
#include <string>
#include <vector>

namespace intelhex {

/// Why reading an image stopped. Only `EndOfFileRecord` means the whole file was read.
enum class read_stop_t : uint8_t {
    NotRead,          ///< nothing was read yet
    EndOfFileRecord,  ///< the end-of-file record (type 1) was reached
    BadChecksum,      ///< a record's bytes did not add up to zero
    BadRecord,        ///< a record was malformed: too short, a character that is not a hex
                      ///< digit, a count larger than its line, or data past 4 GiB
    NoColon,          ///< a line did not start with ":" (also an empty or binary file)
    EndOfStream,      ///< the stream ended before an end-of-file record
};

/// A firmware image. Reading never throws for bad input; it stops at the first
/// bad record, keeps what it stored before it and records why it stopped.
class KINETRA_API hex_data {
public:
    /// Set when an extended segment address record (type 2) was accepted.
    bool segment_addr_rec = false;
    /// Set when an extended linear address record (type 4) was accepted.
    bool linear_addr_rec = false;
    /// Start address -> consecutive bytes from there, in ascending address order.
    /// A file of consecutive records gives one block per data record.
    std::map<uint32_t, std::vector<uint8_t>> blocks;

    /// Opens `path` and reads it; a file that cannot be opened gives an empty image
    /// stopped at `NoColon`.
    void load(const std::string& path);
    /// Reads records from `in` until the first stop condition.
    void read(std::istream& in);
    /// The number of bytes over all blocks.
    uint64_t size() const;
    /// Why the last read stopped.
    read_stop_t stopReason() const { return stop_; }

private:
    void store(uint32_t address, const uint8_t* data, std::size_t count);

    read_stop_t stop_ = read_stop_t::NotRead;
};

/// A short English name of a stop reason, for messages.
KINETRA_API const char* readStopName(read_stop_t reason);

}  // namespace intelhex
