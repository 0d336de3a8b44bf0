#include "callback_report.h"

namespace kinetra::python {

void Callback::report(const char* what, py::error_already_set& error) {
    if (reported) return;
    reported = true;
    try {
        py::object logger = py::module_::import("logging").attr("getLogger")("kinetra");
        logger.attr("error")("%s raised an exception (later ones of this callback are not logged)", what,
                             py::arg("exc_info") = py::make_tuple(error.type(), error.value(), error.trace()));
    } catch (py::error_already_set& failure) {
        // The logging itself failed (interpreter shutting down): Python's own report.
        failure.discard_as_unraisable(what);
    }
}

}  // namespace kinetra::python
