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
};

class IntelHexRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(IntelHexRead, StoresBlocksAndStopsWhereTheFileGoesWrong) {
    const ReadCase& c = GetParam();
    const hex_data image = readText(c.text);
    EXPECT_EQ(image.blocks, c.blocks);
    EXPECT_EQ(image.stopReason(), c.stop) << intelhex::readStopName(image.stopReason());
    uint64_t size = 0;
    for (const auto& b : c.blocks) size += b.second.size();
    EXPECT_EQ(image.size(), size);
}

const std::vector<uint8_t> k16(16, 0xAB);
const std::vector<uint8_t> k16b(16, 0xCD);

INSTANTIATE_TEST_SUITE_P(
    Vectors, IntelHexRead,
    ::testing::Values(
        ReadCase{"one_block_per_record", data(0, k16) + data(0x10, k16b) + kEof, {{0x0, k16}, {0x10, k16b}},
                 read_stop_t::EndOfFileRecord},
        ReadCase{"linear_base", linear(0x0800) + data(0, {1, 2}) + kEof, {{0x08000000, {1, 2}}},
                 read_stop_t::EndOfFileRecord},
        ReadCase{"segment_base", segment(0x1000) + data(4, {9}) + kEof, {{0x00010004, {9}}},
                 read_stop_t::EndOfFileRecord},
        ReadCase{"last_base_wins", segment(0x1000) + linear(0x0800) + data(0, {7}) + kEof, {{0x08000000, {7}}},
                 read_stop_t::EndOfFileRecord},
        ReadCase{"base_record_with_wrong_count_ignored", intelHexRecord(4, 0, {8, 0, 0}) + data(0, {5}) + kEof,
                 {{0x0, {5}}}, read_stop_t::EndOfFileRecord},
        ReadCase{"rewrite_overwrites_in_place", data(0, {1, 2, 3}) + data(0, {4, 5, 6}) + kEof, {{0x0, {4, 5, 6}}},
                 read_stop_t::EndOfFileRecord},
        ReadCase{"overlap_splits_before_and_overwrites", data(4, {1, 2, 3, 4}) + data(2, {9, 9, 9, 9}) + kEof,
                 {{0x2, {9, 9}}, {0x4, {9, 9, 3, 4}}}, read_stop_t::EndOfFileRecord},
        ReadCase{"overlap_past_the_end_starts_a_block", data(0, {1, 2}) + data(1, {7, 8, 9}) + kEof,
                 {{0x0, {1, 7}}, {0x2, {8, 9}}}, read_stop_t::EndOfFileRecord},
        ReadCase{"lower_case_and_crlf",
                 ":0400100001a2b3c4d2\r\n:00000001ff\r\n", {{0x10, {0x01, 0xA2, 0xB3, 0xC4}}},
                 read_stop_t::EndOfFileRecord},
        ReadCase{"nothing_after_the_end_record", data(0, {1}) + kEof + data(8, {2}), {{0x0, {1}}},
                 read_stop_t::EndOfFileRecord},
        ReadCase{"other_types_are_skipped", intelHexRecord(5, 0, {8, 0, 1, 0x89}) + data(0, {1}) + kEof,
                 {{0x0, {1}}}, read_stop_t::EndOfFileRecord},
        ReadCase{"bad_checksum_keeps_what_came_before", data(0, {1}) + ":0100010002FB\n" + data(2, {3}) + kEof,
                 {{0x0, {1}}}, read_stop_t::BadChecksum},
        ReadCase{"count_larger_than_the_line", data(0, {1}) + ":10000000AA46\n" + kEof, {{0x0, {1}}},
                 read_stop_t::BadRecord},
        ReadCase{"letter_beyond_f", data(0, {1}) + ":0100000G00\n" + kEof, {{0x0, {1}}}, read_stop_t::BadRecord},
        ReadCase{"space_inside_record", ":01000000 01FE\n" + kEof, {}, read_stop_t::BadRecord},
        ReadCase{"odd_digit_count", ":0100000001FE0\n" + kEof, {}, read_stop_t::BadRecord},
        ReadCase{"short_line", ":0000\n" + kEof, {}, read_stop_t::BadRecord},
        ReadCase{"no_colon_first", "x" + data(0, {1}) + kEof, {}, read_stop_t::NoColon},
        ReadCase{"byte_order_mark", "\xEF\xBB\xBF" + data(0, {1}) + kEof, {}, read_stop_t::NoColon},
        ReadCase{"blank_line_stops", data(0, {1}) + "\n" + data(1, {2}) + kEof, {{0x0, {1}}}, read_stop_t::NoColon},
        ReadCase{"empty", "", {}, read_stop_t::NoColon},
        ReadCase{"binary", std::string("\x00\x01\xFF\x3A", 4), {}, read_stop_t::NoColon},
        ReadCase{"truncated_without_end_record", data(0, {1}) + data(1, {2}), {{0x0, {1}}, {0x1, {2}}},
                 read_stop_t::EndOfStream},
        ReadCase{"truncated_mid_record", data(0, {1}) + ":0400000001", {{0x0, {1}}}, read_stop_t::BadChecksum},
        ReadCase{"data_wrapping_past_4_GiB", linear(0xFFFF) + data(0xFFFE, {1, 2, 3}) + kEof, {},
                 read_stop_t::BadRecord},
        ReadCase{"data_ending_at_4_GiB", linear(0xFFFF) + data(0xFFFE, {1, 2}) + kEof, {{0xFFFFFFFE, {1, 2}}},
                 read_stop_t::EndOfFileRecord}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

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
    EXPECT_FALSE(image.segment_addr_rec || image.linear_addr_rec);
}

}  // namespace
