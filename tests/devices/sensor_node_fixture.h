#pragma once
// The IMU and encoder command-set tests: one scripted node on an in-memory bus.

#include "support/node_bus_test.h"

#include <cstdint>
#include <vector>

namespace kinetra::test {

/// The device type codes the scripted sensor nodes announce in their heartbeats.
constexpr uint8_t kImuType = static_cast<uint8_t>(protocol::DeviceType::Imu);
constexpr uint8_t kEncoderType = static_cast<uint8_t>(protocol::DeviceType::Encoder);

class SensorNodeTest : public NodeBusTest {
protected:
    static constexpr uint32_t kNode = 7;

    /// Waits until `node` is in the presence table.
    void waitPresent(uint32_t node = kNode) {
        ASSERT_TRUE(eventually([&] { return bus.isDeviceConnected(node); }));
    }

    /// The frames the library sent to `node`, without heartbeats and acknowledgements.
    std::vector<can_frame_data> requestsTo(uint32_t node = kNode) { return NodeBusTest::requestsTo(node); }
};

}  // namespace kinetra::test
