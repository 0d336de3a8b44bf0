#include "procedure_clocks.h"

#include <pybind11/pybind11.h>

#include <algorithm>
#include <thread>
#include <type_traits>

namespace kinetra::python {
namespace {

namespace py = pybind11;
using Clock = ProcedureClock::clock;

double seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }
Clock::duration fromSeconds(double value) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(value));
}

/// Calls the Python override `name` with `args`; false when there is none or it
/// raised (reported), in which case `result` is left as it is.
template <typename Result, typename... Args>
bool callOverride(const ProcedureClock* self, const char* name, Result* result, Args... args) {
    py::gil_scoped_acquire gil;
    try {
        py::function method = py::get_override(self, name);
        if (!method) return false;
        py::object value = method(args...);
        if constexpr (!std::is_void_v<Result>) *result = value.cast<Result>();
        return true;
    } catch (py::error_already_set& error) {
        error.discard_as_unraisable(name);
    } catch (const py::cast_error& error) {
        PyErr_SetString(PyExc_TypeError, error.what());
        PyErr_WriteUnraisable(py::str(name).ptr());
    }
    return false;
}

}  // namespace

Clock::time_point PythonProcedureClock::now() {
    double value = 0.0;
    if (!callOverride(this, "now", &value)) return Clock::now();
    return Clock::time_point(fromSeconds(value));
}

void PythonProcedureClock::sleepFor(Clock::duration duration) {
    if (!callOverride<void>(this, "sleep_for", nullptr, seconds(duration))) std::this_thread::sleep_for(duration);
}

Clock::duration PythonProcedureClock::replyWait(Clock::duration bound) {
    double value = seconds(bound);
    callOverride(this, "reply_wait", &value, seconds(bound));
    return fromSeconds(value);
}

void PythonProcedureClock::replyWaitExpired(Clock::duration bound) {
    callOverride<void>(this, "reply_wait_expired", nullptr, seconds(bound));
}

}  // namespace kinetra::python
