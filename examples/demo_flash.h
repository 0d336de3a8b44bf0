#pragma once
// The demo's firmware update: a small image is generated, written as an Intel HEX
// file, flashed into the simulated driver through its bootloader with a progress
// line per stage, and the driver comes back on the bus reporting the new version.

#include <kinetra/driver.h>
#include <kinetra/flash_options.h>
#include <kinetra/interface.h>

#include "kinetra_sim/driver_node.h"
#include "kinetra_sim/hex_image.h"
#include "kinetra_sim/simulator.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace demo {

inline const char* flashStageName(kinetra::FlashStage stage) {
    switch (stage) {
        case kinetra::FlashStage::Entering: return "entering the bootloader";
        case kinetra::FlashStage::Erasing: return "erasing";
        case kinetra::FlashStage::Writing: return "writing";
        case kinetra::FlashStage::Verifying: return "verifying";
        case kinetra::FlashStage::Starting: return "starting";
    }
    return "?";
}

/// Flashes firmware 2.5.0 into the simulated driver `node` and reads its version
/// back; false on failure. Takes about ten seconds: the update's own pauses.
inline bool flashDriverFirmware(kinetra::sim::Simulator& sim, Interface& bus, Driver& driver, unsigned int node) {
    using namespace std::chrono_literals;
    // A simulation knob: erases take a tenth of a real part's time.
    kinetra::sim::BootTiming timing;
    timing.erase_time_scale = 0.1;
    sim.nodeAs<kinetra::sim::DriverNode>(node).setBootTiming(timing);

    const kinetra::sim::ImageVersion version{2, 5, 0};
    const std::vector<uint8_t> image = kinetra::sim::firmwareImage(4096, version);
    const std::string path = (std::filesystem::temp_directory_path() / "kinetra_demo_firmware.hex").string();
    std::ofstream(path) << kinetra::sim::intelHexText(0x08000000, image);
    std::printf("Flashing firmware %u.%u.%u (%zu bytes) into the driver\n", version.major, version.minor,
                version.patch, image.size());

    kinetra::FlashOptions options;
    options.verify = true;
    options.progress = [](const kinetra::FlashProgress& p) {
        if (p.done == p.total) {
            std::printf("  %-24s %llu/%llu\n", flashStageName(p.stage), static_cast<unsigned long long>(p.done),
                        static_cast<unsigned long long>(p.total));
            std::fflush(stdout);
        }
    };
    const ret_status_t status = driver.flash(path, false, options);
    std::filesystem::remove(path);
    if (status != RET_OK) {
        std::printf("Firmware update failed (%d)\n", status);
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (!bus.isDeviceConnected(node) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
    unsigned char major = 0, minor = 0;
    unsigned short patch = 0;
    if (driver.getFirmwareVersion(&major, &minor, &patch) != RET_OK) {
        std::printf("Driver did not come back after the update\n");
        return false;
    }
    std::printf("Driver back on the bus with firmware %u.%u.%u\n", major, minor, patch);
    return major == version.major && minor == version.minor && patch == version.patch;
}

}  // namespace demo
