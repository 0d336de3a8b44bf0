// Writes a made-up firmware image as an Intel HEX file, for trying a firmware
// update against the simulated devices: `kinetra flash 1 FILE --sim`.
//
//     build/examples/firmware_image firmware.hex 2.5.0 4096

#include "kinetra_sim/hex_image.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: firmware_image FILE MAJOR.MINOR.PATCH [BYTES]\n");
        return 2;
    }
    unsigned major = 0, minor = 0, patch = 0;
    if (std::sscanf(argv[2], "%u.%u.%u", &major, &minor, &patch) != 3 || major > 255 || minor > 255 ||
        patch > 65535) {
        std::fprintf(stderr, "firmware_image: version '%s': expected MAJOR.MINOR.PATCH\n", argv[2]);
        return 2;
    }
    const long bytes = argc == 4 ? std::strtol(argv[3], nullptr, 10) : 4096;
    // The simulated bootloader reads the version from the image's first sector.
    if (bytes < 0x208 || bytes > 0x40000) {
        std::fprintf(stderr, "firmware_image: BYTES '%s': expected 520 to 262144\n", argc == 4 ? argv[3] : "");
        return 2;
    }
    const kinetra::sim::ImageVersion version{static_cast<uint8_t>(major), static_cast<uint8_t>(minor),
                                             static_cast<uint16_t>(patch)};
    std::ofstream out(argv[1]);
    out << kinetra::sim::intelHexText(0x08000000, kinetra::sim::firmwareImage(static_cast<std::size_t>(bytes), version));
    out.close();
    if (!out) {
        std::fprintf(stderr, "firmware_image: cannot write %s\n", argv[1]);
        return 4;
    }
    std::printf("%s: firmware %u.%u.%u, %ld bytes\n", argv[1], major, minor, patch, bytes);
    return 0;
}
