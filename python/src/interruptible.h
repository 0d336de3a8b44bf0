#pragma once
// Blocking waits that Ctrl-C ends: the wait goes in slices with the GIL
// released, and between slices pending signals run their Python handlers, so
// a KeyboardInterrupt raised there ends the wait well within 0.2 s.

#include <pybind11/pybind11.h>

#include <algorithm>
#include <chrono>
#include <optional>

namespace kinetra::python {

namespace py = pybind11;

/// The longest a blocking call goes without looking at pending signals.
inline constexpr std::chrono::milliseconds kSignalCheckPeriod{50};

/// Calls `step(slice)` with the GIL released, where `step` waits at most
/// `slice` and returns true once done, until it is done or `deadline` passes
/// (none: no deadline). Raises what a signal handler raises. Returns whether
/// `step` finished. Called with the GIL held.
template <typename Step>
bool waitInterruptibly(Step step, std::optional<std::chrono::steady_clock::time_point> deadline) {
    for (;;) {
        auto slice = std::chrono::duration_cast<std::chrono::nanoseconds>(kSignalCheckPeriod);
        if (deadline) {
            const auto left = *deadline - std::chrono::steady_clock::now();
            slice = std::max(std::chrono::nanoseconds::zero(),
                             std::min(slice, std::chrono::duration_cast<std::chrono::nanoseconds>(left)));
        }
        bool done;
        {
            py::gil_scoped_release release;
            done = step(slice);
        }
        if (done) return true;
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        if (deadline && std::chrono::steady_clock::now() >= *deadline) return false;
    }
}

/// The deadline `seconds` from now; none for None. Raises InvalidArgument for
/// a NaN or negative time.
std::optional<std::chrono::steady_clock::time_point> deadlineAfter(const py::object& seconds, const char* operation);

}  // namespace kinetra::python
