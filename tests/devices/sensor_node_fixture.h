#pragma once
// A bus with one scripted IMU or encoder node for the command-set tests: the
// frames the proxy sent to the node, and a device that answers every query of a
// routing table so that request frames can be checked without waiting.

#include "devices/protocol/bus.h"
#include "devices/protocol/reply_layout.h"
#include "support/memory_interface.h"
#include "support/scripted_device.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <ostream>
#include <vector>

namespace kinetra::test {

/// What a request frame should look like on the bus.
struct ExpectedRequest {
    uint8_t command;
    bool remote;
    uint8_t dlc;
    std::array<uint8_t, 8> data;  ///< bytes without a signal are zero
};

inline std::ostream& operator<<(std::ostream& os, const ExpectedRequest& r) {
    os << "cmd 0x" << std::hex << int(r.command) << (r.remote ? " remote" : " data") << std::dec << " dlc "
       << int(r.dlc);
    return os;
}

/// Checks one sent frame against `expected` for the proxy of `node`.
inline void expectRequest(const can_frame_data& frame, uint32_t node, const ExpectedRequest& expected) {
    EXPECT_EQ(frame.can_id, protocol::hostFrameId(node, expected.command,
                                                  expected.remote ? protocol::FrameKind::Remote
                                                                  : protocol::FrameKind::Data));
    EXPECT_EQ(frame.can_dlc, expected.dlc);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(frame.data[i], expected.data[i]) << "data byte " << i;
}

class SensorNodeTest : public ::testing::Test {
protected:
    static constexpr uint32_t kNode = 7;

    void SetUp() override {
        ASSERT_TRUE(bus.initInterface("mem"));
        ASSERT_TRUE(eventually([&] { return bus.isRunning(); }));
    }

    /// Waits until `node` is in the presence table.
    void waitPresent(uint32_t node = kNode) {
        ASSERT_TRUE(eventually([&] { return bus.isDeviceConnected(node); }));
    }

    /// Makes `device` answer every routed query with eight zero bytes.
    static void answerEveryQuery(ScriptedDevice& device, const protocol::RouteTable& routes) {
        for (unsigned command = 0; command < 128; ++command) {
            if (command != protocol::kHeartbeat && routes.find(static_cast<uint8_t>(command)) != nullptr) {
                device.answer(static_cast<uint8_t>(command), std::vector<uint8_t>(8, 0));
            }
        }
    }

    /// The frames the library sent to `node`, without heartbeats and acknowledgements.
    std::vector<can_frame_data> requestsTo(uint32_t node = kNode) {
        std::vector<can_frame_data> frames;
        for (can_frame_data frame : bus.sentExceptHeartbeats()) {
            if (getDeviceIdFromFrame(&frame) == node && getCommandIdFromFrame(&frame) != protocol::kAcknowledgement) {
                frames.push_back(frame);
            }
        }
        return frames;
    }

    MemoryInterface bus;
};

}  // namespace kinetra::test
