#include "procedure_errors.h"

#include <pybind11/pybind11.h>

#include <string>

#include "errors.h"
#include "procedures.h"
#include "snake_case.h"

namespace kinetra::python {
namespace {

namespace py = pybind11;

/// Raises the package's exception class `name` (a ProcedureError) saying
/// "node N: operation: `text`", with the attributes every KinetraError
/// carries, `stage` and `reason`, and `extra`.
[[noreturn]] void raise(const char* name, const std::string& text, const std::string& reason, py::object status,
                        unsigned node, std::string_view operation, py::object stage, const py::dict& extra) {
    std::string message = "node " + std::to_string(node) + ": ";
    message.append(operation.data(), operation.size());
    message += ": " + text;
    py::handle type = errorClass(name);
    py::object error = type(message, std::move(status), node, py::str(operation.data(), operation.size()),
                            std::move(stage), reason);
    for (const auto& item : extra) py::setattr(error, item.first, item.second);
    PyErr_SetObject(type.ptr(), error.ptr());
    throw py::error_already_set();
}

py::object textOrNone(const std::string& text) { return text.empty() ? py::object(py::none()) : py::str(text); }

}  // namespace

void raiseFlash(ret_status_t status, unsigned node, const FlashResult& result) {
    py::dict extra;
    extra["failure"] = result.reason;
    extra["sector"] = result.sector;
    extra["address"] = result.address;
    extra["reply_byte"] = result.reply_byte;
    extra["file_line"] = result.file_line;
    extra["in_bootloader"] = result.in_bootloader;
    extra["result"] = result;
    raise("FlashError", flashResultText(result), result.text, py::cast(status), node, "flash", py::cast(result.step), extra);
}

void raiseConfiguration(const ConfigResult& result, unsigned node, std::string_view operation) {
    py::dict extra;
    extra["member"] = textOrNone(result.member);
    extra["failure"] = result.reason;
    extra["failed_operation"] = textOrNone(result.operation.empty() ? std::string() : snakeCase(result.operation));
    extra["groups_written"] = result.groups_written;
    // A document that cannot be used is the caller's argument; a failed
    // exchange keeps the status the device's operation ended with.
    const bool refused = result.reason == ConfigFailure::NotJson || result.reason == ConfigFailure::WrongType ||
                         result.reason == ConfigFailure::DoesNotFit;
    const ret_status_t status = refused ? RET_INVALID_ARGUMENT : result.status;
    raise("ConfigurationError", result.text, result.text, py::cast(status), node, operation, py::none(), extra);
}

void raiseCalibration(const OffAxisCalibrationResult& result, OffAxisStage stage, unsigned node,
                      std::string_view operation) {
    py::dict extra;
    extra["failure"] = result.failure;
    extra["chip"] = result.chip;
    extra["result"] = result;
    // Only a silent encoder maps onto a status; the other failures are the shaft's or the chip's.
    py::object status = result.read_timed_out ? py::cast(RET_TIMEOUT) : py::object(py::none());
    raise("CalibrationError", result.reason, result.reason, std::move(status), node, operation, py::cast(stage), extra);
}

}  // namespace kinetra::python
