#pragma once
// A bus with one scripted motor controller node for the Driver and Actuator
// tests: the frames the proxies sent to it, a device that answers every routed
// query at once, and a hook to answer requests by their content (for the reads
// whose request carries an index or register number).

#include "devices/protocol/payload.h"
#include "support/node_bus_test.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <vector>

namespace kinetra::test {

using MotorRequest = ExpectedRequest;

/// A read request: remote frame, DLC 8, no data.
inline MotorRequest readOf(uint8_t command) { return MotorRequest{command, true, 8, {}}; }

/// Little-endian bytes of a float, for building replies.
inline std::array<uint8_t, 4> floatBytes(float value) {
    std::array<uint8_t, 4> bytes{};
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
}

/// Eight reply bytes holding two floats.
inline std::vector<uint8_t> twoFloats(float first, float second) {
    std::vector<uint8_t> data;
    for (uint8_t b : floatBytes(first)) data.push_back(b);
    for (uint8_t b : floatBytes(second)) data.push_back(b);
    return data;
}

class MotorNodeTest : public NodeBusTest {
protected:
    static constexpr uint32_t kNode = 9;

    void TearDown() override { stopResponding(); }

    /// Starts a scripted node of `type` and waits until it is present.
    ScriptedDevice& startNode(protocol::DeviceType type, uint32_t node = kNode) {
        devices_.push_back(std::make_unique<ScriptedDevice>(bus, node, static_cast<uint8_t>(type)));
        EXPECT_TRUE(eventually([&] { return bus.isDeviceConnected(node); }));
        return *devices_.back();
    }

    /// Answers requests to `node` with what `reply` returns for them (nothing
    /// when it returns no value): the reply carries the request's command id,
    /// `dlc`, and is a remote frame if `remote`.
    using Responder = std::function<std::optional<std::vector<uint8_t>>(const can_frame_data&)>;
    void respondWith(Responder reply, uint8_t dlc = 8, bool remote = false, uint32_t node = kNode) {
        stopResponding();
        responder_ = bus.addListener([this, reply, node, dlc, remote](const can_frame_data& sent) {
            can_frame_data request = sent;
            if (getDeviceIdFromFrame(&request) != node) return;
            const auto data = reply(request);
            if (!data) return;
            can_frame_data frame{};
            frame.can_id = protocol::nodeFrameId(node, getCommandIdFromFrame(&request),
                                                 static_cast<uint8_t>(protocol::DeviceType::Driver));
            if (remote) frame.can_id |= 1u << 30;
            frame.can_dlc = dlc;
            for (std::size_t i = 0; i < data->size() && i < 8; ++i) frame.data[i] = (*data)[i];
            bus.inject(frame);
        });
    }

    /// Removes the responder of respondWith().
    void stopResponding() {
        if (responder_ >= 0) bus.removeListener(responder_);
        responder_ = -1;
    }

    /// The frames the library sent to `node`, without heartbeats and acknowledgements.
    std::vector<can_frame_data> requestsTo(uint32_t node = kNode) { return NodeBusTest::requestsTo(node); }

private:
    std::vector<std::unique_ptr<ScriptedDevice>> devices_;
    int responder_ = -1;
};

}  // namespace kinetra::test
