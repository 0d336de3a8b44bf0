#include <kinetra/intel_hex.h>

#include "kinetra_sim/hex_image.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

using intelhex::hex_data;
using intelhex::read_stop_t;
using kinetra::sim::intelHexRecord;
using Blocks = std::map<uint32_t, std::vector<uint8_t>>;

const std::string kEof = ":00000001FF\n";
std::string data(uint16_t address, std::vector<uint8_t> bytes) { return intelHexRecord(0, address, bytes); }
std::string linear(uint16_t upper) { return intelHexRecord(4, 0, {uint8_t(upper >> 8), uint8_t(upper)}); }
std::string segment(uint16_t value) { return intelHexRecord(2, 0, {uint8_t(value >> 8), uint8_t(value)}); }

hex_data readText(const std::string& text) {
    std::istringstream in(text);
    hex_data image;
    image.read(in);
    return image;
}

struct ReadCase {
    const char* name;
    std::string text;
    Blocks blocks;
    read_stop_t stop;
    std::size_t line;  // where the read stopped
};

class IntelHexRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(IntelHexRead, StoresBlocksAndStopsWhereTheFileGoesWrong) {
    const ReadCase& c = GetParam();
    const hex_data image = readText(c.text);
    EXPECT_EQ(image.blocks, c.blocks);
    EXPECT_EQ(image.stopReason(), c.stop) << image.stopDescription();
    EXPECT_EQ(image.stopLine(), c.line) << image.stopDescription();
    EXPECT_EQ(image.stopDetail().empty(), c.stop == read_stop_t::EndOfFileRecord) << image.stopDescription();
    uint64_t size = 0;
    for (const auto& b : c.blocks) size += b.second.size();
    EXPECT_EQ(image.size(), size);
}

const std::vector<uint8_t> k16(16, 0xAB);
const std::vector<uint8_t> k16b(16, 0xCD);
constexpr auto kEnd = read_stop_t::EndOfFileRecord;

INSTANTIATE_TEST_SUITE_P(
    Vectors, IntelHexRead,
    ::testing::Values(
        ReadCase{"one_block_per_record", data(0, k16) + data(0x10, k16b) + kEof, {{0x0, k16}, {0x10, k16b}}, kEnd, 3},
        ReadCase{"linear_base", linear(0x0800) + data(0, {1, 2}) + kEof, {{0x08000000, {1, 2}}}, kEnd, 3},
        ReadCase{"segment_base", segment(0x1000) + data(4, {9}) + kEof, {{0x00010004, {9}}}, kEnd, 3},
        ReadCase{"last_base_wins", segment(0x1000) + linear(0x0800) + data(0, {7}) + kEof, {{0x08000000, {7}}},
                 kEnd, 4},
        // A skipped base record would put the data after it at address 0.
        ReadCase{"linear_base_with_count_3", intelHexRecord(4, 0, {8, 0, 0}) + data(0, {5}) + kEof, {},
                 read_stop_t::BadRecord, 1},
        ReadCase{"linear_base_with_count_1", data(0, {5}) + intelHexRecord(4, 0, {8}) + data(0, {5}) + kEof,
                 {{0x0, {5}}}, read_stop_t::BadRecord, 2},
        ReadCase{"linear_base_with_an_address", intelHexRecord(4, 1, {8, 0}) + data(0, {5}) + kEof, {},
                 read_stop_t::BadRecord, 1},
        ReadCase{"segment_base_with_count_0", intelHexRecord(2, 0, {}) + data(0, {5}) + kEof, {},
                 read_stop_t::BadRecord, 1},
        ReadCase{"segment_base_with_an_address", intelHexRecord(2, 0x10, {1, 0}) + kEof, {}, read_stop_t::BadRecord,
                 1},
        ReadCase{"exact_repeat_is_accepted", data(0, {1, 2, 3}) + data(0, {1, 2, 3}) + kEof, {{0x0, {1, 2, 3}}}, kEnd,
                 3},
        ReadCase{"agreeing_overlap_splits_before", data(4, {1, 2, 3, 4}) + data(2, {9, 9, 1, 2}) + kEof,
                 {{0x2, {9, 9}}, {0x4, {1, 2, 3, 4}}}, kEnd, 3},
        ReadCase{"agreeing_overlap_past_the_end", data(0, {1, 2}) + data(1, {2, 8, 9}) + kEof,
                 {{0x0, {1, 2}}, {0x2, {8, 9}}}, kEnd, 3},
        ReadCase{"rewrite_with_other_bytes", data(0, {1, 2, 3}) + data(0, {1, 2, 4}) + kEof, {{0x0, {1, 2, 3}}},
                 read_stop_t::OverlappingData, 2},
        ReadCase{"overlap_into_the_next_block", data(0, {1}) + data(4, {4, 5}) + data(2, {0, 0, 4, 6}) + kEof,
                 {{0x0, {1}}, {0x4, {4, 5}}}, read_stop_t::OverlappingData, 3},
        ReadCase{"overlap_across_a_base_change", linear(0x0800) + data(0x10, {1}) + linear(0x0000) +
                                                      data(0x10, {2}) + linear(0x0800) + data(0x10, {3}) + kEof,
                 {{0x10, {2}}, {0x08000010, {1}}}, read_stop_t::OverlappingData, 6},
        ReadCase{"lower_case_and_crlf", ":0400100001a2b3c4d2\r\n:00000001ff\r\n", {{0x10, {0x01, 0xA2, 0xB3, 0xC4}}},
                 kEnd, 2},
        ReadCase{"nothing_after_the_end_record", data(0, {1}) + kEof + data(8, {2}), {{0x0, {1}}}, kEnd, 2},
        ReadCase{"start_addresses_are_accepted",
                 intelHexRecord(5, 0, {8, 0, 1, 0x89}) + intelHexRecord(3, 0, {0, 0, 1, 0}) + data(0, {1}) + kEof,
                 {{0x0, {1}}}, kEnd, 4},
        ReadCase{"type_06_refused", data(0, {1}) + intelHexRecord(6, 0, {0, 0, 0, 0}) + data(1, {2}) + kEof,
                 {{0x0, {1}}}, read_stop_t::UnknownRecordType, 2},
        ReadCase{"type_FF_refused", intelHexRecord(0xFF, 0x10, {0x12, 0x34}) + kEof, {}, read_stop_t::UnknownRecordType,
                 1},
        ReadCase{"bad_checksum_keeps_what_came_before", data(0, {1}) + ":0100010002FB\n" + data(2, {3}) + kEof,
                 {{0x0, {1}}}, read_stop_t::BadChecksum, 2},
        ReadCase{"count_larger_than_the_line", data(0, {1}) + ":10000000AA46\n" + kEof, {{0x0, {1}}},
                 read_stop_t::BadRecord, 2},
        ReadCase{"count_smaller_than_the_line", data(0, {1}) + ":00000000010100\n" + kEof, {{0x0, {1}}},
                 read_stop_t::BadRecord, 2},
        ReadCase{"letter_beyond_f", data(0, {1}) + ":0100000G00\n" + kEof, {{0x0, {1}}}, read_stop_t::BadRecord, 2},
        ReadCase{"space_inside_record", ":01000000 01FE\n" + kEof, {}, read_stop_t::BadRecord, 1},
        ReadCase{"odd_digit_count", ":0100000001FE0\n" + kEof, {}, read_stop_t::BadRecord, 1},
        ReadCase{"short_line", ":0000\n" + kEof, {}, read_stop_t::BadRecord, 1},
        ReadCase{"no_colon_first", "x" + data(0, {1}) + kEof, {}, read_stop_t::NoColon, 1},
        ReadCase{"byte_order_mark", "\xEF\xBB\xBF" + data(0, {1}) + kEof, {}, read_stop_t::NoColon, 1},
        ReadCase{"blank_line_stops", data(0, {1}) + "\n" + data(1, {2}) + kEof, {{0x0, {1}}}, read_stop_t::NoColon, 2},
        ReadCase{"empty", "", {}, read_stop_t::NoColon, 1},
        ReadCase{"binary", std::string("\x00\x01\xFF\x3A", 4), {}, read_stop_t::NoColon, 1},
        ReadCase{"ends_without_end_record", data(0, {1}) + data(1, {2}), {{0x0, {1}}, {0x1, {2}}},
                 read_stop_t::EndOfStream, 2},
        ReadCase{"cut_off_inside_the_data", data(0, {1}) + ":0400000001", {{0x0, {1}}}, read_stop_t::Truncated, 2},
        ReadCase{"cut_off_inside_the_count", data(0, {1}) + ":0", {{0x0, {1}}}, read_stop_t::Truncated, 2},
        ReadCase{"cut_off_before_the_checksum_crlf", data(0, {1}) + ":0100010002\r", {{0x0, {1}}},
                 read_stop_t::Truncated, 2},
        ReadCase{"last_line_complete_without_line_feed", data(0, {1}) + ":00000001FF", {{0x0, {1}}}, kEnd, 2},
        ReadCase{"data_wrapping_past_4_GiB", linear(0xFFFF) + data(0xFFFE, {1, 2, 3}) + kEof, {},
                 read_stop_t::BadRecord, 2},
        ReadCase{"data_ending_at_4_GiB", linear(0xFFFF) + data(0xFFFE, {1, 2}) + kEof, {{0xFFFFFFFE, {1, 2}}}, kEnd,
                 3}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

// Files as GNU objcopy and srec_cat write them, some with a record planted by
// hand (tests/data/make_hex_files.sh names the command behind each).
struct ProducerCase {
    const char* file;
    read_stop_t stop;
    std::size_t line;
    const char* detail;    // part of the refusal's detail
    uint32_t first;        // accepted: where the payload starts
    std::size_t bytes;     // ... and its size
};

class IntelHexProducerFile : public ::testing::TestWithParam<ProducerCase> {};

std::vector<uint8_t> producerPayload(std::size_t size) {
    std::vector<uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 31 + 7);
    return bytes;
}

TEST_P(IntelHexProducerFile, ReadsOrIsRefusedNamingTheLine) {
    const ProducerCase& c = GetParam();
    hex_data image;
    image.load(std::string(KINETRA_TEST_DATA_DIR) + "/" + c.file);
    ASSERT_EQ(image.stopReason(), c.stop) << image.stopDescription();
    EXPECT_EQ(image.stopLine(), c.line) << image.stopDescription();
    EXPECT_NE(image.stopDescription().find(c.detail), std::string::npos) << image.stopDescription();
    if (c.stop != read_stop_t::EndOfFileRecord) return;
    std::vector<uint8_t> joined;
    uint64_t next = c.first;
    for (const auto& block : image.blocks) {
        EXPECT_EQ(block.first, next) << "consecutive records";
        next = block.first + uint64_t{block.second.size()};
        joined.insert(joined.end(), block.second.begin(), block.second.end());
    }
    EXPECT_EQ(joined, producerPayload(c.bytes));
}

INSTANTIATE_TEST_SUITE_P(
    Files, IntelHexProducerFile,
    ::testing::Values(
        ProducerCase{"objcopy_linear_start.hex", kEnd, 36, "", 0x0800FF00, 512},
        // The longest records there are, each line ended by CR LF.
        ProducerCase{"srec_cat_255_crlf.hex", kEnd, 6, "", 0x08000000, 1020},
        ProducerCase{"srec_cat_erased_end.hex", kEnd, 18, "", 0x080BFF00, 256},
        ProducerCase{"overlap_repeat.hex", kEnd, 9, "", 0x08000000, 32},
        ProducerCase{"planted_type06.hex", read_stop_t::UnknownRecordType, 3, "line 3: record type 06", 0, 0},
        ProducerCase{"planted_typeFF.hex", read_stop_t::UnknownRecordType, 3, "line 3: record type FF", 0, 0},
        ProducerCase{"planted_linear_count.hex", read_stop_t::BadRecord, 1,
                     "line 1: malformed extended linear address record (type 04): count 03", 0, 0},
        ProducerCase{"planted_linear_address.hex", read_stop_t::BadRecord, 1, "address 0001", 0, 0},
        ProducerCase{"overlap_different.hex", read_stop_t::OverlappingData, 6,
                     "line 6: data at 0x08000010 overlaps an earlier record", 0, 0},
        ProducerCase{"truncated_mid_line.hex", read_stop_t::Truncated, 6, "line 6: the file ends inside this record", 0,
                     0}),
    [](const ::testing::TestParamInfo<ProducerCase>& info) {
        std::string name = info.param.file;
        return name.substr(0, name.find('.'));
    });

TEST(IntelHex, ReadsWhatTheWriterWrites) {
    std::vector<uint8_t> bytes(40000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 31);
    // Starts 8 bytes short of a 64 KiB boundary, so records and bases cross it.
    const hex_data image = readText(kinetra::sim::intelHexText(0x0800FFF8, bytes));
    ASSERT_EQ(image.stopReason(), read_stop_t::EndOfFileRecord);
    EXPECT_TRUE(image.linear_addr_rec);
    std::vector<uint8_t> joined;
    uint64_t expected_start = 0x0800FFF8;
    for (const auto& block : image.blocks) {
        EXPECT_EQ(block.first, expected_start);
        EXPECT_LE(block.second.size(), 16u);
        expected_start += block.second.size();
        joined.insert(joined.end(), block.second.begin(), block.second.end());
    }
    EXPECT_EQ(joined, bytes);
}

TEST(IntelHex, HugeLineIsRefusedWithoutReadingItWhole) {
    const std::string text = ":" + std::string(4 << 20, '0') + "\n" + kEof;
    const hex_data image = readText(text);
    EXPECT_EQ(image.size(), 0u);
    EXPECT_EQ(image.stopReason(), read_stop_t::BadRecord);
}

TEST(IntelHex, MissingFileGivesAnEmptyImage) {
    hex_data image;
    image.load("/nonexistent/firmware.hex");
    EXPECT_EQ(image.size(), 0u);
    EXPECT_EQ(image.stopReason(), read_stop_t::NoColon);
    EXPECT_EQ(image.stopDescription(), "the file cannot be opened");
    EXPECT_FALSE(image.segment_addr_rec || image.linear_addr_rec);
}

}  // namespace
