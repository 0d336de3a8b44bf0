// Any WebSocket message a page could send: parsing never throws, and whatever it
// takes is within the bounds the bus worker relies on.

#include "dashboard/page_message.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <variant>

namespace {

using namespace kinetra::dashboard;

void check(bool holds) {
    if (!holds) std::abort();
}

void checkNode(unsigned node) { check(node >= 1 && node <= kMaxNodeId); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const ParseResult result = parsePageMessage(std::string_view(reinterpret_cast<const char*>(data), size));
    check(result.message.has_value() == result.error.empty());
    if (!result.message) return 0;
    check(size <= kMaxPageMessageBytes);
    std::visit(
        [](const auto& request) {
            using T = std::decay_t<decltype(request)>;
            if constexpr (std::is_same_v<T, MotorCommand>) {
                checkNode(request.node);
                check(std::isfinite(request.value));
                if (!hasSetPoint(request.action)) check(request.value == 0);
            } else if constexpr (std::is_same_v<T, SetLimit>) {
                checkNode(request.node);
                check(hasSetPoint(request.action) && std::isfinite(request.limit) && request.limit >= 0);
            } else if constexpr (std::is_same_v<T, SetRate>) {
                check(request.hz >= kMinSampleRate && request.hz <= kMaxSampleRate);
            } else if constexpr (std::is_same_v<T, ConfigWrite>) {
                checkNode(request.node);
                check(!request.member.empty() && std::isfinite(request.value));
            } else if constexpr (std::is_same_v<T, Calibrate>) {
                checkNode(request.node);
                check(std::isfinite(request.speed) && request.speed != 0 && std::fabs(request.speed) <= kMaxShaftSpeed);
            } else if constexpr (std::is_same_v<T, ConfigRead> || std::is_same_v<T, ConfigSave>) {
                checkNode(request.node);
            }
        },
        result.message->request);
    return 0;
}
