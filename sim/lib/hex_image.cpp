#include "kinetra_sim/hex_image.h"

#include "devices/protocol/bootloader_protocol.h"

#include <algorithm>
#include <cstdio>

namespace kinetra::sim {
namespace {

constexpr uint8_t kDataRecord = 0;
constexpr uint8_t kEndOfFileRecord = 1;
constexpr uint8_t kLinearBaseRecord = 4;
constexpr uint64_t kSegment = 0x10000;

}  // namespace

std::string intelHexRecord(uint8_t type, uint16_t address, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> bytes{static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 8),
                               static_cast<uint8_t>(address), type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    uint8_t sum = 0;
    for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
    bytes.push_back(static_cast<uint8_t>(-sum));
    std::string line = ":";
    char digits[3];
    for (uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", b);
        line += digits;
    }
    return line + "\n";
}

std::string intelHexText(uint32_t address, const std::vector<uint8_t>& bytes, std::size_t record_size) {
    record_size = std::clamp<std::size_t>(record_size, 1, 255);
    std::string text;
    uint64_t at = address;
    uint64_t upper = kSegment;  // none written yet
    std::size_t done = 0;
    while (done < bytes.size()) {
        if (at / kSegment != upper) {
            upper = at / kSegment;
            text += intelHexRecord(kLinearBaseRecord, 0,
                                   {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)});
        }
        const std::size_t room = static_cast<std::size_t>(kSegment - at % kSegment);
        const std::size_t n = std::min({record_size, bytes.size() - done, room});
        const auto from = bytes.begin() + static_cast<std::ptrdiff_t>(done);
        text += intelHexRecord(kDataRecord, static_cast<uint16_t>(at % kSegment),
                               std::vector<uint8_t>(from, from + static_cast<std::ptrdiff_t>(n)));
        at += n;
        done += n;
    }
    return text + intelHexRecord(kEndOfFileRecord, 0, {});
}

std::vector<uint8_t> firmwareImage(std::size_t size, ImageVersion version) {
    const std::size_t offset = BootloaderModel::kVersionAddress - protocol::bootloader::kFlashBase;
    std::vector<uint8_t> image(std::max(size, offset + 8));
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
    const uint8_t record[8] = {'K', 'F', 'W', 'V', version.major, version.minor,
                               static_cast<uint8_t>(version.patch), static_cast<uint8_t>(version.patch >> 8)};
    std::copy(std::begin(record), std::end(record), image.begin() + static_cast<std::ptrdiff_t>(offset));
    return image;
}

}  // namespace kinetra::sim
