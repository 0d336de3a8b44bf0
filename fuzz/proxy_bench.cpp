#include "proxy_bench.h"

#include "can/bus.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace kinetra::fuzz {

ProxyBench::ProxyBench() {
    if (!bus_.initInterface("fuzz")) std::abort();
    const protocol::DeviceType types[] = {protocol::DeviceType::Driver, protocol::DeviceType::Actuator,
                                          protocol::DeviceType::Imu, protocol::DeviceType::Encoder};
    unsigned node = kDriverNode;
    for (const auto type : types) {
        nodes_.push_back(std::make_unique<test::ScriptedDevice>(bus_, node++, static_cast<uint8_t>(type)));
    }
    listener_ = bus_.addListener([this](const can_frame_data& frame) {
        Responder responder;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!responder_ || std::this_thread::get_id() != owner_) return;
            ++sent_;
            responder = responder_;
        }
        responder(frame);
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        bool all = bus_.isRunning();
        for (unsigned n = kDriverNode; n <= kEncoderNode; ++n) all = all && bus_.isDeviceConnected(n);
        if (all) break;
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "the fuzz bus did not come up\n");
            std::abort();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

ProxyBench::~ProxyBench() {
    bus_.removeListener(listener_);
    nodes_.clear();
    bus_.closeInterface();
}

void ProxyBench::respond(Responder responder) {
    bus_.clearSent();  // the record of sent frames would grow without end
    std::lock_guard<std::mutex> lock(mutex_);
    responder_ = std::move(responder);
    owner_ = std::this_thread::get_id();
    sent_ = 0;
}

std::size_t ProxyBench::framesSent() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sent_;
}

}  // namespace kinetra::fuzz
