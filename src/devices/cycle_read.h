#pragma once
// What a control cycle needs of a proxy: a handle that outlives the proxy, through
// which the cycle checks the proxy's guard and receives the replies addressed to
// it while a run waits, and the proxy's class, node and bus.
//
// Threads: the receive thread of the proxy's interface offers each reply to the
// handle (under the handle's mutex, then the listener's own lock); the thread
// that runs the cycle sets and clears the listener and calls the guard under the
// handle's mutex. The proxy clears `core` under the mutex when it goes, so a
// cycle never calls into a destroyed proxy.

#include <kinetra/can_frame.h>
#include <kinetra/interface.h>
#include <kinetra/types.h>

#include "devices/protocol/reply_layout.h"

#include <cstdint>
#include <memory>
#include <mutex>

namespace kinetra {

/// A running cycle, as the proxies it reads see it.
class CycleListener {
public:
    /// Takes `frame`, a usable reply of `command` to the proxy behind `handle`,
    /// if a read of the run waits for it; false leaves it to the proxy.
    virtual bool deliver(const void* handle, const can_frame_data& frame, uint8_t command) = 0;

protected:
    ~CycleListener() = default;
};

struct CycleHandle {
    using Guard = ret_status_t (*)(const void* core);

    CycleHandle(const void* proxy_core, Guard proxy_guard) : core(proxy_core), guard(proxy_guard) {}

    /// Hands a reply to the listening cycle; true when a read of it took it.
    bool offer(const can_frame_data& frame, uint8_t command) {
        std::lock_guard<std::mutex> lock(mutex);
        return listener != nullptr && listener->deliver(this, frame, command);
    }

    std::mutex mutex;
    /// The proxy's engine; null once the proxy is gone.
    const void* core;
    const Guard guard;
    /// The cycle whose run waits for replies of this proxy, or null.
    CycleListener* listener = nullptr;
};

/// The device classes a cycle reads, each with its own reply routing table.
enum class CycleClass : uint8_t { Driver, Actuator, Imu, Encoder };

/// A proxy as a cycle takes it: null handle for a proxy without implementation.
struct CycleProxy {
    std::shared_ptr<CycleHandle> handle;
    Interface* iface = nullptr;
    uint32_t node = 0;
    CycleClass cls = CycleClass::Driver;
    const protocol::RouteTable* routes = nullptr;
};

/// The CycleProxy of a proxy's engine (null for none).
template <typename Core>
CycleProxy cycleProxyOf(Core* core, CycleClass cls) {
    CycleProxy proxy;
    proxy.cls = cls;
    if (core == nullptr) return proxy;
    proxy.handle = core->cycleHandle();
    proxy.iface = core->iface();
    proxy.node = core->node();
    proxy.routes = &Core::TraitsType::routes;
    return proxy;
}

}  // namespace kinetra
