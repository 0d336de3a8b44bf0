#include "serial/line_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace kinetra {
namespace {

/// Feeds `chunks` one by one and collects every line findLine() hands out.
std::vector<std::string> splitLines(const std::vector<std::string>& chunks, std::size_t limit, const std::string& eol) {
    LineBuffer buffer;
    std::vector<std::string> lines;
    std::size_t scanned = 0;
    for (const std::string& chunk : chunks) {
        std::memcpy(buffer.prepare(chunk.size()), chunk.data(), chunk.size());
        buffer.commit(chunk.size());
        while (std::size_t length = buffer.findLine(limit, eol, scanned)) {
            std::string line;
            buffer.take(length, line);
            lines.push_back(line);
            scanned = 0;
        }
    }
    std::string rest;
    buffer.take(buffer.size(), rest);
    if (!rest.empty()) lines.push_back("rest:" + rest);
    return lines;
}

struct SplitCase {
    const char* name;
    std::vector<std::string> chunks;
    std::size_t limit;
    std::string eol;
    std::vector<std::string> expected;
};

// Test listings and failure reports name the case, not a dump of its bytes.
void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.name; }

class LineBufferSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(LineBufferSplit, HandsOutLinesInOrderWithoutLosingBytes) {
    const SplitCase& c = GetParam();
    EXPECT_EQ(splitLines(c.chunks, c.limit, c.eol), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LineBufferSplit,
    ::testing::Values(
        SplitCase{"TwoLinesInOneChunk", {"abc\rdef\r"}, 30, "\r", {"abc\r", "def\r"}},
        SplitCase{"LineAcrossChunks", {"T12", "345", "67\rt1"}, 30, "\r", {"T1234567\r", "rest:t1"}},
        SplitCase{"LimitCutsLongLine", {std::string(35, 'x')}, 30, "\r", {std::string(30, 'x'), "rest:xxxxx"}},
        SplitCase{"TerminatorExactlyAtLimit", {"abcd\r"}, 5, "\r", {"abcd\r"}},
        SplitCase{"TerminatorJustPastLimit", {"abcde\r"}, 5, "\r", {"abcde", "\r"}},
        SplitCase{"TwoByteTerminatorSplitAcrossChunks", {"ab\r", "\ncd\r\n"}, 30, "\r\n", {"ab\r\n", "cd\r\n"}},
        SplitCase{"LoneFirstByteOfTerminatorIsData", {"a\rb\r\n"}, 30, "\r\n", {"a\rb\r\n"}},
        SplitCase{"EmptyTerminatorMeansLimitOnly", {"abcdefg"}, 3, "", {"abc", "def", "rest:g"}},
        SplitCase{"EmptyLines", {"\r\r\r"}, 30, "\r", {"\r", "\r", "\r"}},
        SplitCase{"ZeroBytesInsideLine", {std::string("a\0b\r", 4)}, 30, "\r", {std::string("a\0b\r", 4)}}),
    [](const ::testing::TestParamInfo<SplitCase>& info) { return std::string(info.param.name); });

TEST(LineBuffer, KeepsAnUnfinishedLineWhileGrowingAndCompacting) {
    LineBuffer buffer;
    std::string out;
    std::size_t scanned = 0;
    // Many short lines followed by a partial one, repeatedly: the partial line
    // must survive every compaction of the storage.
    for (int round = 0; round < 100; ++round) {
        const std::string chunk = "L" + std::to_string(round) + "\rP" + std::to_string(round);
        std::memcpy(buffer.prepare(4096), chunk.data(), chunk.size());
        buffer.commit(chunk.size());
        const std::size_t length = buffer.findLine(30, "\r", scanned);
        ASSERT_GT(length, 0u);
        std::string line;
        buffer.take(length, line);
        scanned = 0;
        out += line;
        std::memcpy(buffer.prepare(1), "\r", 1);
        buffer.commit(1);
        const std::size_t rest = buffer.findLine(30, "\r", scanned);
        ASSERT_GT(rest, 0u);
        buffer.take(rest, out);
        scanned = 0;
    }
    EXPECT_TRUE(buffer.empty());
    EXPECT_EQ(out.substr(0, 12), "L0\rP0\rL1\rP1\r");
}

}  // namespace
}  // namespace kinetra
