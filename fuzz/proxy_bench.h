#pragma once
// An open in-memory bus with one node of each class kept present by heartbeats,
// and a hook that answers, on the sending thread, every frame the fuzz thread
// sends: the answers reach the proxy before the query starts its wait, so a
// target runs single-threaded at full speed and no query waits out its time.

#include <kinetra/can_frame.h>

#include "support/memory_interface.h"
#include "support/scripted_device.h"

#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kinetra::fuzz {

class ProxyBench {
public:
    /// The node ids of the driver, actuator, IMU and encoder.
    static constexpr unsigned kDriverNode = 1, kActuatorNode = 2, kImuNode = 3, kEncoderNode = 4;

    /// Opens the bus and waits until every node is present; aborts if it is not.
    ProxyBench();
    ~ProxyBench();

    test::MemoryInterface& bus() { return bus_; }

    /// Called with each frame the calling thread sends from now on (heartbeats
    /// and the other threads' frames are left alone). Empty stops it.
    using Responder = std::function<void(const can_frame_data&)>;
    void respond(Responder responder);

    /// Frames the calling thread sent since the last respond().
    std::size_t framesSent() const;

private:
    test::MemoryInterface bus_;
    std::vector<std::unique_ptr<test::ScriptedDevice>> nodes_;
    int listener_ = -1;
    mutable std::mutex mutex_;
    Responder responder_;
    std::thread::id owner_;
    std::size_t sent_ = 0;
};

}  // namespace kinetra::fuzz
