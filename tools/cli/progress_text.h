#pragma once
// The words and bars of the long procedures' progress. Pure: no I/O.

#include <kinetra/flash_options.h>
#include <kinetra/offaxis_calibration.h>

#include <cstdint>
#include <string>

namespace kinetra::cli {

/// "[#####-----]" of `width` cells between the brackets; full when total is 0.
std::string progressBar(uint64_t done, uint64_t total, std::size_t width);

/// "0:07", "12:03", "1:02:03"; "--:--" for a time that is negative or not finite.
std::string durationText(double seconds);

/// "entering the bootloader", "erasing", "writing", "verifying", "starting".
std::string flashStageName(FlashStage stage);

/// One line of a flash's progress, for example
/// "writing    [######--------------]  1024/4096 B  2.0 kB/s  0:01 left":
/// the stage, the bar, what is done of the stage in its unit (bytes when writing
/// and verifying, sectors when erasing), the rate and the stage's time left
/// from `stage_seconds`, the time the stage has run; "done in 0:01" at its end.
std::string flashProgressLine(const FlashProgress& progress, double stage_seconds);

/// What a calibration stage does, for example "measuring the error (1 of 3)".
std::string calibrationStageName(OffAxisStage stage);

}  // namespace kinetra::cli
