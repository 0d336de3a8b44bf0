// The library's user-facing lines (adapter time-out, opening failures,
// calibration progress, the imported document) go to the Python logger
// "kinetra" at level INFO instead of the process's standard output, so that an
// application configures them like any other log. Before the interpreter
// finalises, the library's default sink is restored: a line written by a
// library thread after that must not reach for the interpreter.

#include <kinetra/message_sink.h>

#include "bindings.h"

namespace kinetra::python {

void bindMessages(py::module_& m) {
    kinetra::setMessageSink([](const std::string& line) {
        py::gil_scoped_acquire gil;
        try {
            py::module_::import("logging").attr("getLogger")("kinetra").attr("info")(line);
        } catch (py::error_already_set& error) {
            // A failing handler must not unwind into the library's thread.
            error.discard_as_unraisable("kinetra message sink");
        }
    });
    py::module_::import("atexit").attr("register")(py::cpp_function([] { kinetra::setMessageSink({}); }));
    m.def(
        "setMessageSink", [](py::object sink) {
            if (sink.is_none()) {
                kinetra::setMessageSink({});
                return;
            }
            kinetra::setMessageSink([sink](const std::string& line) {
                py::gil_scoped_acquire gil;
                try {
                    sink(line);
                } catch (py::error_already_set& error) {
                    error.discard_as_unraisable("kinetra message sink");
                }
            });
        },
        py::arg("sink"),
        "Sends the library's user-facing lines to `sink(line)` instead of the logger \"kinetra\"; None restores "
        "the library's default, standard output.");
}

}  // namespace kinetra::python
