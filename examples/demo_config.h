#pragma once
// The demo's configuration step: back the driver's settings up to a file,
// change one on the device, restore the file and show the value is back.

#include <kinetra/driver.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

/// Exports `driver`'s configuration to a file, changes its position gain, imports
/// the file and checks the gain came back; prints each step. False on failure.
inline bool backUpAndRestoreConfiguration(Driver& driver) {
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "kinetra_driver_1_config.json";
    const std::string backup = driver.exportConfiguration();
    float saved_gain = 0.0f;
    if (backup.empty() || driver.getPositionControllerGain(&saved_gain) != RET_OK) {
        std::printf("Driver configuration export failed\n");
        return false;
    }
    std::ofstream(file, std::ios::binary) << backup;
    std::printf("Driver configuration exported to %s (%zu bytes), position gain %.1f\n", file.c_str(),
                backup.size(), saved_gain);

    float gain = 0.0f;
    if (driver.setPositionControllerGain(saved_gain * 2.0f) != RET_OK ||
        driver.getPositionControllerGain(&gain) != RET_OK) {
        std::printf("Driver position gain change failed\n");
        return false;
    }
    std::printf("Driver position gain changed to %.1f; importing the file, which prints it:\n", gain);
    std::fflush(stdout);

    std::ifstream in(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const unsigned char imported = driver.importConfiguration(text);
    std::cout.flush();
    if (imported != 1 || driver.getPositionControllerGain(&gain) != RET_OK || gain != saved_gain) {
        std::printf("Driver configuration import failed (result %d)\n", imported);
        return false;
    }
    std::printf("Driver position gain restored to %.1f, and the device exports the file's text again: %s\n", gain,
                driver.exportConfiguration() == backup ? "yes" : "no");
    return true;
}
