#pragma once
/// @file hex_image.h
/// Firmware images for the simulated bootloader, written as Intel HEX text the
/// way compilers write them: for tests, benchmarks and the demo.

#include "kinetra_sim/bootloader_model.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kinetra::sim {

/// Intel HEX text of `bytes` placed from `address`: an extended linear address
/// record wherever the upper 16 bits change, data records of at most
/// `record_size` bytes (1-255) that never cross a 64 KiB boundary, and the
/// end-of-file record. Lines end in "\n".
std::string intelHexText(uint32_t address, const std::vector<uint8_t>& bytes, std::size_t record_size = 16);

/// One record line (":" count address type data checksum) with a correct checksum.
std::string intelHexRecord(uint8_t type, uint16_t address, const std::vector<uint8_t>& data);

/// A made-up firmware of `size` bytes (at least 0x208) for 0x08000000 that
/// announces `version` where the simulated bootloader looks for it.
std::vector<uint8_t> firmwareImage(std::size_t size, ImageVersion version);

}  // namespace kinetra::sim
