// The serial receive buffer fed arbitrary chunks: the first byte picks the line
// limit, each following byte the size of the next chunk (taken from the rest).
// Lines handed out must never exceed the limit or what is held, and every byte fed
// comes out once, in order.

#include "serial/line_buffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t limit = 1 + data[0] % 40;
    const std::string eol = (data[1] & 1) ? std::string("\r") : std::string("\r\n");
    std::size_t pos = 2;
    kinetra::LineBuffer buffer;
    std::string fed;
    std::string out;
    std::size_t scanned = 0;
    while (pos + 1 < size) {
        const std::size_t chunk = std::min<std::size_t>(1 + data[pos] % 16, size - pos - 1);
        ++pos;
        char* space = buffer.prepare(chunk);
        std::memcpy(space, data + pos, chunk);
        buffer.commit(chunk);
        fed.append(reinterpret_cast<const char*>(data + pos), chunk);
        pos += chunk;
        for (;;) {
            const std::size_t line = buffer.findLine(limit, eol, scanned);
            if (line > limit || line > buffer.size()) std::abort();
            if (line == 0) break;
            buffer.take(line, out);
            scanned = 0;
        }
    }
    buffer.take(buffer.size(), out);
    if (out != fed || !buffer.empty()) std::abort();
    return 0;
}
