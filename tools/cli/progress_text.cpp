#include "cli/progress_text.h"

#include "cli/output.h"

#include <cmath>
#include <cstdio>

namespace kinetra::cli {

namespace {
constexpr std::size_t kFlashBarWidth = 24;
// Stage names padded to the longest, so that the bars of successive lines align.
constexpr int kStageNameWidth = 23;

bool countsBytes(FlashStage stage) { return stage == FlashStage::Writing || stage == FlashStage::Verifying; }

std::string rateText(double per_second, bool bytes) {
    if (!bytes) return fixed(per_second, 1) + "/s";
    if (per_second >= 1e6) return fixed(per_second / 1e6, 1) + " MB/s";
    if (per_second >= 1e3) return fixed(per_second / 1e3, 1) + " kB/s";
    return fixed(per_second, 0) + " B/s";
}
}  // namespace

std::string progressBar(uint64_t done, uint64_t total, std::size_t width) {
    const std::size_t filled =
        total == 0 ? width : static_cast<std::size_t>(std::min<uint64_t>(done, total) * width / total);
    return "[" + std::string(filled, '#') + std::string(width - filled, '-') + "]";
}

std::string durationText(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) return "--:--";
    const auto total = static_cast<long long>(std::llround(seconds));
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    }
    return text;
}

std::string flashStageName(FlashStage stage) {
    switch (stage) {
        case FlashStage::Entering: return "entering the bootloader";
        case FlashStage::Erasing: return "erasing";
        case FlashStage::Writing: return "writing";
        case FlashStage::Verifying: return "verifying";
        case FlashStage::Starting: return "starting";
    }
    return "stage " + std::to_string(static_cast<int>(stage));
}

std::string flashProgressLine(const FlashProgress& progress, double stage_seconds) {
    char name[64];
    std::snprintf(name, sizeof name, "%-*s", kStageNameWidth, flashStageName(progress.stage).c_str());
    std::string line = std::string(name) + " " + progressBar(progress.done, progress.total, kFlashBarWidth) + "  " +
                       std::to_string(progress.done) + "/" + std::to_string(progress.total);
    const bool bytes = countsBytes(progress.stage);
    if (bytes) line += " B";
    if (progress.stage == FlashStage::Erasing) line += " sectors";
    if (progress.done >= progress.total) return line + "  done in " + durationText(stage_seconds);
    if (progress.done == 0 || !(stage_seconds > 0)) return line + "  --:-- left";
    const double rate = static_cast<double>(progress.done) / stage_seconds;
    const double left = static_cast<double>(progress.total - progress.done) / rate;
    if (bytes || progress.stage == FlashStage::Erasing) line += "  " + rateText(rate, bytes);
    return line + "  " + durationText(left) + " left";
}

std::string calibrationStageName(OffAxisStage stage) {
    switch (stage) {
        case OffAxisStage::Reset: return "clearing the chip's trimming and table";
        case OffAxisStage::Measurement1: return "measuring the error as the chip reports it";
        case OffAxisStage::BiasCurrent: return "choosing the bias current";
        case OffAxisStage::Measurement2: return "measuring the error with the new bias current";
        case OffAxisStage::Compensation: return "fitting and writing the compensation table";
        case OffAxisStage::Measurement3: return "measuring the error with the table";
        case OffAxisStage::Store: return "storing the settings in the chip";
        case OffAxisStage::Done: return "done";
    }
    return "stage " + std::to_string(static_cast<int>(stage));
}

}  // namespace kinetra::cli
