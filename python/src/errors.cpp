#include "errors.h"

#include "devices/query_engine.h"

#include <chrono>
#include <string>

namespace kinetra::python {
namespace {

/// The exception class of a failed status.
const char* classOf(ret_status_t status) {
    switch (status) {
        case RET_TIMEOUT: return "ReplyTimeout";
        case RET_NOT_CONNECTED: return "NodeNotConnected";
        case RET_NOT_RUNNING: return "BusNotRunning";
        case RET_INVALID_ARGUMENT: return "InvalidArgument";
        case RET_NOT_INITIALISED: return "NotInitialised";
        case RET_OK: break;
    }
    return "KinetraError";
}

std::string explanation(ret_status_t status) {
    switch (status) {
        case RET_TIMEOUT: {
            const auto ms = std::chrono::milliseconds(QueryEngine<int>::kReplyTimeout).count();
            return "no reply within " + std::to_string(ms) + " ms";
        }
        case RET_NOT_CONNECTED: return "the node is not present on the bus";
        case RET_NOT_RUNNING: return "the bus is closed or its last send failed";
        case RET_INVALID_ARGUMENT: return "an argument is not finite or outside its range; nothing was sent";
        case RET_NOT_INITIALISED: return "the proxy has no implementation";
        case RET_OK: break;
    }
    return "failed";
}

[[noreturn]] void raise(py::handle type, py::object error) {
    PyErr_SetObject(type.ptr(), error.ptr());
    throw py::error_already_set();
}

py::object operationName(std::string_view operation) {
    if (operation.empty()) return py::none();
    return py::str(operation.data(), operation.size());
}

}  // namespace

py::handle errorClass(const char* name) {
    // The module holds the classes for the life of the interpreter.
    static py::handle errors = py::module_::import("kinetra._errors").release();
    return errors.attr(name).ptr();
}

void raiseStatus(ret_status_t status, unsigned node, std::string_view operation, std::string_view device,
                 std::string_view detail) {
    const py::object status_value = py::cast(status);
    std::string message(device);
    message += ' ' + std::to_string(node) + ": ";
    message.append(operation.data(), operation.size());
    message += ": ";
    if (detail.empty()) {
        message += explanation(status);
    } else {
        message.append(detail.data(), detail.size());
    }
    message += " (" + py::str(status_value.attr("name")).cast<std::string>() + ")";
    py::handle type = errorClass(classOf(status));
    raise(type, type(message, status_value, node, operationName(operation)));
}

void raiseError(const char* class_name, std::string_view message, std::string_view operation, py::object status) {
    py::handle type = errorClass(class_name);
    raise(type, type(py::str(message.data(), message.size()), status, py::none(), operationName(operation)));
}

void bindErrors(py::module_& m) {
    py::module_ errors = py::module_::import("kinetra._errors");
    for (py::handle name : errors.attr("__all__")) m.attr(name) = errors.attr(name);
}

}  // namespace kinetra::python
