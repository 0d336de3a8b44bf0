#pragma once
// The IMU and encoder command-set tests: one scripted node on an in-memory bus.

#include "support/node_bus_test.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kinetra::test {

/// The device type codes the scripted sensor nodes announce in their heartbeats.
constexpr uint8_t kImuType = static_cast<uint8_t>(protocol::DeviceType::Imu);
constexpr uint8_t kEncoderType = static_cast<uint8_t>(protocol::DeviceType::Encoder);

/// One operation of a sensor proxy and the one frame it must send.
template <typename Proxy>
struct SensorRequestCase {
    std::string name;
    std::function<ret_status_t(Proxy&)> call;
    ExpectedRequest expected;
};

class SensorNodeTest : public NodeBusTest {
protected:
    static constexpr uint32_t kNode = 7;

    /// Waits until `node` is in the presence table.
    void waitPresent(uint32_t node = kNode) { kinetra::test::waitPresent(bus, node); }

    /// The frames the library sent to `node`, without heartbeats and acknowledgements.
    std::vector<can_frame_data> requestsTo(uint32_t node = kNode) { return NodeBusTest::requestsTo(node); }

    /// Runs every case on a proxy of a scripted node of `type` that answers
    /// every query of `routes`: each succeeds and sends exactly its frame.
    template <typename Proxy>
    void checkRequests(uint8_t type, const protocol::RouteTable& routes,
                       const std::vector<SensorRequestCase<Proxy>>& cases) {
        ScriptedDevice device(bus, kNode, type);
        answerEveryQuery(device, routes);
        Proxy proxy(kNode, &bus);
        waitPresent();
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            bus.clearSent();
            EXPECT_EQ(c.call(proxy), RET_OK);
            const auto sent = requestsTo();
            ASSERT_EQ(sent.size(), 1u) << "one frame per operation";
            expectRequest(sent[0], kNode, c.expected);
        }
    }
};

}  // namespace kinetra::test
