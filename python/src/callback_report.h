#pragma once
// Reporting an exception a user's callback raised on one of the module's
// threads: logged with its traceback to the logger "kinetra", once per
// callback (a callback that raises on every frame would otherwise flood the
// log), and never allowed to end the thread that called it.

#include <pybind11/pybind11.h>

namespace kinetra::python {

namespace py = pybind11;

/// A Python callable with the memory of whether its failure was reported.
struct Callback {
    py::object function = py::none();
    bool reported = false;

    /// Calls the function (if any) with `args`; an exception it raises is
    /// logged (the first time) and swallowed. Needs the GIL.
    template <typename... Args>
    void operator()(const char* what, Args&&... args) {
        if (function.is_none()) return;
        try {
            function(std::forward<Args>(args)...);
        } catch (py::error_already_set& error) {
            report(what, error);
        }
    }

    /// Logs `error` with its traceback unless this callback's failure was
    /// logged before. Needs the GIL.
    void report(const char* what, py::error_already_set& error);
};

}  // namespace kinetra::python
