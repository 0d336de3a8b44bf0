// The probe on Windows: a COM port has no raw device file to poke at, so it is
// opened through the library's own serial layer, with the same bounded wait.

#include "cli/adapter_probe.h"

#include "usb/slcan_codec.h"

#include <kinetra/serial/serial.h>

#include <exception>

namespace kinetra::cli {

namespace {
/// The probe's line rate: the adapter's; a pseudo-terminal or USB port ignores it.
constexpr uint32_t kProbeBaud = 115200;
}  // namespace

ProbeResult probeAdapter(const std::string& port) {
    const auto wait = static_cast<uint32_t>(kProbeWait.count());
    serial::Serial probe("", kProbeBaud, serial::Timeout(0, wait, 0, wait, 0));
    try {
        probe.setPort(port);
        probe.open();
    } catch (const std::exception&) {
        return ProbeResult::NotOpened;
    }
    try {
        probe.write(kinetra::slcan::firmwareVersionQuery());
        std::string answer;
        // Any one byte is an answer; readline() hands out what came within the wait.
        return probe.readline(answer, 1, "\r") > 0 ? ProbeResult::Answered : ProbeResult::Silent;
    } catch (const std::exception&) {
        // A port that fails while probed (removed, broken) has nobody behind it.
        return ProbeResult::Silent;
    }
}

}  // namespace kinetra::cli
