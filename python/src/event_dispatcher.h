#pragma once
// Delivers an interface's events (node appeared, node lost, adapter lost) to
// Python on a thread of its own. The library calls its callbacks on its receive
// and heartbeat threads; were those to wait for the GIL, a Python thread that
// holds it and closes the interface (which joins them) would never finish, and
// frames would wait while Python runs. They only queue the event here.

#include <pybind11/pybind11.h>

#include "callback_report.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace kinetra::python {

namespace py = pybind11;

class EventDispatcher {
public:
    enum class Kind { Appeared, Lost, AdapterLost };
    struct Event {
        Kind kind;
        unsigned int node;
        unsigned char type;
    };

    EventDispatcher();
    /// Stops the thread (see stop()).
    ~EventDispatcher();
    EventDispatcher(const EventDispatcher&) = delete;
    EventDispatcher& operator=(const EventDispatcher&) = delete;

    /// Queues an event; any thread, with or without the GIL.
    void post(const Event& event);
    /// Delivers what is queued, then ends the thread. Idempotent; releases the
    /// GIL while it waits, so a callback that runs meanwhile can finish.
    void stop();

    // The Python callables; read and written only with the GIL held. None for none.
    Callback appeared;
    Callback lost;
    Callback adapter_lost;

private:
    void run();
    void deliver(const Event& event);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Event> queue_;
    bool stopping_ = false;
    std::thread thread_;
};

/// Something that owns library threads feeding Python and must end them before
/// the interpreter does (an interface with its dispatcher).
class PythonShutdown {
public:
    PythonShutdown();
    virtual ~PythonShutdown();
    PythonShutdown(const PythonShutdown&) = delete;
    PythonShutdown& operator=(const PythonShutdown&) = delete;
    /// Ends the threads; idempotent. Called with the GIL held.
    virtual void shutdown() = 0;
};

/// Shuts down every live PythonShutdown; registered with atexit.
void shutdownAll();

}  // namespace kinetra::python
