// The pure parts of the tool's long procedures: progress lines, the error plot,
// the member-by-member configuration diff, and the checks of input files.

#include "cli/config_diff.h"
#include "cli/exit_codes.h"
#include "cli/input_files.h"
#include "cli/progress_text.h"
#include "cli/svg_plot.h"

#include "kinetra_sim/hex_image.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>

namespace kinetra::cli::procedure_text {
namespace {

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

TEST(ProcedureText, FlashLinesShowStageBarUnitsRateAndTimeLeft) {
    struct Case {
        FlashProgress progress;
        double seconds;
        std::vector<const char*> parts;
    };
    const Case cases[] = {
        {{FlashStage::Writing, 1024, 4096}, 0.5, {"writing ", "[######------------------]", "1024/4096 B", "2.0 kB/s", "0:02 left"}},
        {{FlashStage::Erasing, 3, 10}, 1.5, {"erasing", "3/10 sectors", "2.0/s", "0:04 left"}},
        {{FlashStage::Verifying, 0, 4096}, 0.0, {"verifying", "0/4096 B", "--:-- left"}},
        {{FlashStage::Starting, 1, 1}, 0.2, {"starting", "[########################]", "1/1", "done in 0:00"}},
        // A count past its total (never expected) still draws a full bar.
        {{FlashStage::Writing, 9000, 4096}, 3.0, {"[########################]", "done in 0:03"}},
    };
    for (const Case& c : cases) {
        const std::string line = flashProgressLine(c.progress, c.seconds);
        for (const char* part : c.parts) EXPECT_NE(line.find(part), std::string::npos) << line << " lacks " << part;
    }
    // The bars of successive stages start in the same column.
    EXPECT_EQ(flashProgressLine({FlashStage::Entering, 0, 1}, 0).find('['),
              flashProgressLine({FlashStage::Writing, 0, 1}, 0).find('['));
    const std::pair<double, const char*> durations[] = {
        {59.4, "0:59"}, {3725, "1:02:05"}, {-1, "--:--"}, {NAN, "--:--"}, {INFINITY, "--:--"}};
    for (const auto& [seconds, text] : durations) EXPECT_EQ(durationText(seconds), text) << seconds;
}

TEST(ProcedureText, ErrorPlotCoversBothSeriesSymmetricallyAndSkipsBadPoints) {
    const std::vector<std::pair<double, double>> steps = {{14.6, 2}, {900, 200}, {0, 1}, {-5, 1}, {NAN, 1}, {1e-3, 2e-4}};
    for (const auto& [span, step] : steps) EXPECT_DOUBLE_EQ(tickStep(span, 8), step) << span;

    PlotSeries before{"before <raw>", "#d62728", {0, 100, 200, 300}, {-7.3, 2, NAN, 5}};
    PlotSeries after{"after", "#1f77b4", {0, 150, 300}, {0.5, -0.5, 0.25}};
    const std::string svg = linePlotSvg({before, after}, {"error & more", "shaft angle (deg)", "error (deg)"});
    EXPECT_EQ(svg.rfind("<svg xmlns=\"http://www.w3.org/2000/svg\"", 0), 0u);
    EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
    EXPECT_EQ(occurrences(svg, "<polyline"), 2u);
    EXPECT_NE(svg.find("before &lt;raw&gt;"), std::string::npos) << "texts are escaped";
    EXPECT_NE(svg.find("error &amp; more"), std::string::npos);
    EXPECT_EQ(svg.find("nan"), std::string::npos) << "the NaN point is left out";
    // |y| up to 7.3 in steps of 2: the axis runs from -8 to 8.
    EXPECT_NE(svg.find(">-8</text>"), std::string::npos);
    EXPECT_NE(svg.find(">8</text>"), std::string::npos);
    // Three finite points of the first series, three of the second.
    const std::size_t first = svg.find("points=\"");
    EXPECT_EQ(occurrences(svg.substr(first, svg.find('"', first + 8) - first), ","), 3u);

    const std::string empty = linePlotSvg({}, {"t", "x", "y"});
    EXPECT_NE(empty.find("</svg>"), std::string::npos);
    EXPECT_EQ(empty.find("nan"), std::string::npos);
}

TEST(ProcedureText, ConfigurationDiffListsChangedAndOneSidedMembers) {
    using nlohmann::json;
    const json device = {{"Tarvex K3", {{"gear_ratio", 4.0}, {"position_gain", 20.0}, {"can_baud_rate", 6}}}};
    struct Case {
        const char* what;
        json file;
        std::vector<std::string> members;
    };
    const Case cases[] = {
        {"numbers compare by value", {{"Tarvex K3", {{"gear_ratio", 4}, {"position_gain", 20.0}, {"can_baud_rate", 6.0}}}}, {}},
        {"a changed value", {{"Tarvex K3", {{"gear_ratio", 4.0}, {"position_gain", 40.0}, {"can_baud_rate", 6}}}},
         {"position_gain"}},
        {"one member on each side only", {{"Tarvex K3", {{"gear_ratio", 4.0}, {"position_gain", 20.0}, {"vel_gain", 1}}}},
         {"can_baud_rate", "vel_gain"}},
        {"another model", {{"Other", {{"gear_ratio", 4.0}}}}, {"can_baud_rate", "gear_ratio", "position_gain"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> members;
        for (const MemberDifference& d : diffConfigurations(device, c.file)) members.push_back(d.member);
        EXPECT_EQ(members, c.members) << c.what;
    }
    const auto one_sided = diffConfigurations(device, cases[2].file);
    EXPECT_EQ(memberText(one_sided[0].device), "6");
    EXPECT_EQ(memberText(one_sided[0].file), "(absent)");
    EXPECT_EQ(memberCount(device, cases[2].file), 4u);
}

class InputFileChecks : public ::testing::Test {
protected:
    InputFileChecks() {
        directory_ = std::filesystem::temp_directory_path() / ("kinetra-input-" + std::to_string(::getpid()));
        std::filesystem::create_directories(directory_);
    }
    ~InputFileChecks() override { std::filesystem::remove_all(directory_); }
    std::string file(const std::string& name, const std::string& text) {
        const std::string path = (directory_ / name).string();
        std::ofstream(path) << text;
        return path;
    }
    std::filesystem::path directory_;
};

TEST_F(InputFileChecks, BadFilesAreRefusedWithTheArgumentAndTheReason) {
    const std::string image = kinetra::sim::intelHexText(0x08000000, std::vector<uint8_t>(600, 0xA5));
    const std::string low = kinetra::sim::intelHexText(0x00001000, std::vector<uint8_t>(16, 1));
    struct Case {
        const char* what;
        std::function<void()> check;
        const char* message;  ///< nullptr: accepted
    };
    const std::string dir = directory_.string();
    const Case cases[] = {
        {"missing", [&] { checkFirmwareFile(dir + "/absent.hex", "FILE"); }, "FILE " },
        {"a directory", [&] { checkFirmwareFile(dir, "FILE"); }, "is a directory"},
        {"empty", [&] { checkFirmwareFile(file("empty.hex", ""), "FILE"); }, "is empty"},
        {"not HEX", [&] { checkFirmwareFile(file("text.hex", "hello\n"), "FILE"); }, "not an Intel HEX image"},
        {"no end record", [&] { checkFirmwareFile(file("cut.hex", image.substr(0, image.size() - 12)), "FILE"); },
         "not an Intel HEX image"},
        {"outside the flash", [&] { checkFirmwareFile(file("low.hex", low), "FILE"); }, "outside the flash"},
        {"good image", [&] { EXPECT_EQ(checkFirmwareFile(file("good.hex", image), "FILE").bytes, 600u); }, nullptr},
        {"invalid JSON", [&] { checkConfigurationFile(file("cut.json", "{"), "FILE"); }, "not valid JSON"},
        {"another model", [&] { checkConfigurationFile(file("other.json", R"({"Other":{}})"), "FILE"); },
         "no \"Tarvex K3\" object"},
        {"wrong type", [&] { checkConfigurationFile(file("type.json", R"({"Tarvex K3":{"position_gain":"x"}})"), "FILE"); },
         "wrong type"},
        {"beyond a float", [&] { checkConfigurationFile(file("big.json", R"({"Tarvex K3":{"position_gain":1e308}})"), "FILE"); },
         "position_gain: 1e+308 does not fit a single-precision float"},
        {"one member", [&] { checkConfigurationFile(file("one.json", R"({"Tarvex K3":{"position_gain":5}})"), "FILE"); },
         nullptr},
        {"no directory", [&] { checkWritablePath(dir + "/absent/out.json", "-o"); }, "-o "},
        {"a directory to write", [&] { checkWritablePath(dir, "--plot"); }, "is a directory"},
        {"writable", [&] { checkWritablePath(dir + "/out.svg", "--plot"); }, nullptr},
    };
    for (const Case& c : cases) {
        try {
            c.check();
            EXPECT_EQ(c.message, nullptr) << c.what << " was accepted";
        } catch (const CliError& error) {
            ASSERT_NE(c.message, nullptr) << c.what << ": " << error.what();
            EXPECT_EQ(error.code(), kExitBadFile) << c.what;
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << c.what << ": " << error.what();
            EXPECT_EQ(std::string(error.what()).find('\n'), std::string::npos) << "one line";
        }
    }
}

}  // namespace
}  // namespace kinetra::cli::procedure_text
