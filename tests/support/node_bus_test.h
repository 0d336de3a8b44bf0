#pragma once
// A fixture for command-set tests: an open in-memory bus, the frames the library
// sent to a node, scripted devices that answer every routed query at once, and
// the check of one request frame against what it should be.

#include "can/bus.h"
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
    return os << "cmd 0x" << std::hex << int(r.command) << std::dec << (r.remote ? " remote" : " data") << " dlc "
              << int(r.dlc);
}

/// Checks one sent frame against `expected` for the proxy of `node`.
inline void expectRequest(const can_frame_data& frame, uint32_t node, const ExpectedRequest& expected) {
    EXPECT_EQ(frame.can_id, protocol::hostFrameId(node, expected.command,
                                                  expected.remote ? protocol::FrameKind::Remote
                                                                  : protocol::FrameKind::Data))
        << expected;
    EXPECT_EQ(frame.can_dlc, expected.dlc) << expected;
    for (int i = 0; i < 8; ++i) EXPECT_EQ(frame.data[i], expected.data[i]) << expected << ", data byte " << i;
}

class NodeBusTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus.initInterface("mem"));
        ASSERT_TRUE(eventually([&] { return bus.isRunning(); }));
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
    std::vector<can_frame_data> requestsTo(uint32_t node) {
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
