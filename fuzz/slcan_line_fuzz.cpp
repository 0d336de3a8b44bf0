// Any line an adapter could send: decoding must stay inside the line and never
// throw, and every frame it yields must survive being written and read back.

#include "usb/slcan_codec.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace kinetra::slcan;
    const DecodedLine decoded = decodeLine(std::string_view(reinterpret_cast<const char*>(data), size));
    if (decoded.kind != LineKind::Frame) return 0;
    if (decoded.frame.can_dlc > 8) std::abort();
    char line[kMaxFrameLineLength + 1] = {};
    const std::size_t length = encodeFrame(decoded.frame, line);
    if (length == 0 || length > kMaxFrameLineLength) std::abort();
    const DecodedLine again = decodeLine(std::string_view(line, length));
    if (again.kind != LineKind::Frame || again.frame.can_id != decoded.frame.can_id ||
        again.frame.can_dlc != decoded.frame.can_dlc)
        std::abort();
    return 0;
}
