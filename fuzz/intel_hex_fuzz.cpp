// Any file offered as a firmware image: reading stops with a reason, never throws,
// and counts what it kept.

#include <kinetra/intel_hex.h>

#include <cstdlib>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    intelhex::hex_data image;
    image.read(in);
    if (image.stopReason() == intelhex::read_stop_t::NotRead) std::abort();
    // Every byte stored is counted once.
    uint64_t total = 0;
    for (const auto& block : image.blocks) total += block.second.size();
    if (total != image.size()) std::abort();
    return 0;
}
