#pragma once
// A host wire of the simulated adapter that keeps what the adapter writes, for
// the simulator tests that read the adapter's lines.

#include "kinetra_sim/adapter_protocol.h"
#include "usb/slcan_codec.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kinetra::test {

class TextWire : public sim::HostWire {
public:
    void writeToHost(std::string_view bytes) override {
        std::lock_guard<std::mutex> lock(mutex_);
        text_.append(bytes);
    }
    /// Everything written since the last take.
    std::string take() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(text_, {});
    }
    /// The identifiers of the frame lines written since the last take.
    std::vector<uint32_t> takeFrameIds() {
        const std::string text = take();
        std::vector<uint32_t> ids;
        std::size_t start = 0;
        for (std::size_t end; (end = text.find('\r', start)) != std::string::npos; start = end + 1) {
            const auto decoded = slcan::decodeLine(std::string_view(text).substr(start, end - start));
            if (decoded.kind == slcan::LineKind::Frame) ids.push_back(decoded.frame.can_id);
        }
        return ids;
    }

private:
    std::mutex mutex_;
    std::string text_;
};

}  // namespace kinetra::test
