#include "event_dispatcher.h"

#include "bus.h"
#include "thread_end.h"

#include <algorithm>
#include <set>
#include <vector>

namespace kinetra::python {
namespace {

std::mutex& registryMutex() {
    static std::mutex mutex;
    return mutex;
}
std::set<PythonShutdown*>& registry() {
    static std::set<PythonShutdown*> live;
    return live;
}

/// Set on a dispatcher's thread when a callback stopped that dispatcher: the
/// thread then ends without touching the object, which may be gone as soon as
/// the callback returns.
thread_local bool stopped_from_inside = false;

}  // namespace

EventDispatcher::EventDispatcher() : thread_([this] { run(); }) {}

EventDispatcher::~EventDispatcher() { stop(); }

void EventDispatcher::post(const Event& event) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return;
        queue_.push_back(event);
    }
    wake_.notify_one();
}

void EventDispatcher::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    // A callback that closed its bus leaves the thread to end once it returns.
    if (joinOrDetach(thread_)) stopped_from_inside = true;
}

void EventDispatcher::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        const Event event = queue_.front();
        queue_.pop_front();
        lock.unlock();
        deliver(event);
        if (stopped_from_inside) return;
        lock.lock();
    }
}

void EventDispatcher::deliver(const Event& event) {
    py::gil_scoped_acquire gil;
    switch (event.kind) {
        case Kind::Appeared:
            appeared("kinetra on_appeared callback", event.node, deviceTypeObject(event.type));
            break;
        case Kind::Lost:
            lost("kinetra on_lost callback", event.node);
            break;
        case Kind::AdapterLost:
            adapter_lost("kinetra on_adapter_lost callback");
            break;
    }
}

PythonShutdown::PythonShutdown() {
    std::lock_guard<std::mutex> lock(registryMutex());
    registry().insert(this);
}

PythonShutdown::~PythonShutdown() {
    std::lock_guard<std::mutex> lock(registryMutex());
    registry().erase(this);
}

void shutdownAll() {
    std::vector<PythonShutdown*> live;
    {
        std::lock_guard<std::mutex> lock(registryMutex());
        live.assign(registry().begin(), registry().end());
    }
    for (PythonShutdown* each : live) each->shutdown();
}

}  // namespace kinetra::python
