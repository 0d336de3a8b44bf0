#pragma once
// Ending a thread of the module that calls into Python.

#include <pybind11/pybind11.h>

#include <thread>

namespace kinetra::python {

/// Ends `thread`. From another thread it joins, letting go of the GIL while it
/// waits if the caller holds it, since the thread may need the GIL to finish.
/// From `thread` itself (a callback stopping its own delivery) it detaches, and
/// the thread ends once the callback returns. Returns true when it detached.
inline bool joinOrDetach(std::thread& thread) {
    if (!thread.joinable()) return false;
    if (thread.get_id() == std::this_thread::get_id()) {
        thread.detach();
        return true;
    }
    if (PyGILState_Check()) {
        pybind11::gil_scoped_release release;
        thread.join();
    } else {
        thread.join();
    }
    return false;
}

}  // namespace kinetra::python
