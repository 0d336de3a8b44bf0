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
    UnknownRecordType,  ///< a record type other than 00 to 05
    OverlappingData,    ///< a data record overlaps an earlier one with different bytes
    Truncated,          ///< the stream ended inside a record (a line cut off)
};

/// A firmware image. Reading never throws for bad input; it stops at the first
/// bad record, keeps what it stored before it and records why it stopped, on
/// which line, and what was wrong there.
///
/// Refused (the read stops): a record type other than 00 to 05; an extended
/// address record (02, 04) whose count is not 2 or whose address field is not 0;
/// a data record that overlaps an earlier one with different bytes (an exact
/// repeat of the same bytes is accepted). Start address records (03, 05) carry
/// nothing to store and are accepted.
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
    /// The line (from 1) of the record the read stopped at: the end-of-file
    /// record, the bad line, or the last line when the stream ended early.
    /// 0 when no line was read (a file that cannot be opened).
    std::size_t stopLine() const { return stop_line_; }
    /// What was wrong where the read stopped, in English ("record type 06 is not
    /// one of 00 to 05"); empty after an end-of-file record.
    const std::string& stopDetail() const { return stop_detail_; }
    /// "line N: " and stopDetail(), for messages; just the detail without a line.
    std::string stopDescription() const;

private:
    void store(uint32_t address, const uint8_t* data, std::size_t count);
    bool readRecord(const std::string& line, std::size_t number, bool line_complete, std::vector<uint8_t>& bytes,
                    uint32_t& base);
    bool conflicts(std::size_t number, uint32_t address, const uint8_t* data, std::size_t count);
    void stop(read_stop_t reason, std::size_t line, std::string detail);

    read_stop_t stop_ = read_stop_t::NotRead;
    std::size_t stop_line_ = 0;
    std::string stop_detail_;
};

/// A short English name of a stop reason, for messages.
KINETRA_API const char* readStopName(read_stop_t reason);

}  // namespace intelhex
