// The Driver class: each operation returns its value(s) and raises when it
// fails.

#include <kinetra/driver.h>

#include "bindings.h"
#include "operation.h"
#include "table_operation.h"
#include "devices/protocol/motor_operations.h"
#include "procedures.h"
#include "proxy_common.h"

namespace kinetra::python {

void bindDriver(py::module_& m) {
    auto cls = bindProxy<Driver>(m, "Driver", "Proxy of one motor driver node, from bus.driver(node). A command returns None once its frame "
                                "is sent; a read returns its value, or several as a named tuple. A failure raises a "
                                "KinetraError subclass naming the node and the operation. Every call releases the GIL.");
    // The operations of the class's table, under its names and descriptions.
    KINETRA_MOTOR_SHARED_OPERATIONS(KINETRA_BIND_FROM_TABLE, KINETRA_BIND_FROM_TABLE, (Driver, Driver, protocol::motor::shared_ops))
    KINETRA_DRIVER_OPERATIONS(KINETRA_BIND_FROM_TABLE, KINETRA_BIND_FROM_TABLE, (Driver, Driver, protocol::motor::driver_ops))
    // Operations that are not one exchange.
    cls.def(
        "exportConfigurationResult",
        [](Driver& self) {
            py::gil_scoped_release release;
            return self.exportConfiguration(ConfigOptions{});
        },
        "Reads the driver's configuration and returns a ConfigResult: its `document`, or which read failed "
        "and its status.");
    cls.def(
        "importConfigurationResult",
        [](Driver& self, const std::string& text, bool print_document) {
            ConfigOptions options;
            options.print_document = print_document;
            py::gil_scoped_release release;
            return self.importConfiguration(text, options);
        },
        py::arg("text"), py::arg("print_document") = true,
        "Writes a JSON configuration document into the driver and returns a ConfigResult naming the member "
        "refused and why (nothing sent), or the write that failed; never raises for the document.");
    cls.def("exportConfiguration", static_cast<std::string (Driver::*)()>(&Driver::exportConfiguration),
            py::call_guard<py::gil_scoped_release>(),
            "Reads the driver's configuration and returns it as JSON text; empty when a read failed.");
    cls.def(
        "importConfiguration",
        [](Driver& self, std::string text) {
            py::gil_scoped_release release;
            return self.importConfiguration(std::move(text)) != 0;
        },
        py::arg("text"),
        "Writes a JSON configuration document into the driver; True when every group was applied or "
        "skipped, False when a write failed. Raises RuntimeError for text that is not a valid document, "
        "before anything is sent.");
    cls.def(
        "clearMAxxxOffAxisCalibration",
        [](Driver& self, bool output) {
            py::gil_scoped_release release;
            self.clearMAxxxOffAxisCalibration(output);
        },
        py::arg("output"), "Resets the off-axis calibration stored in the encoder's sensor chip.");
    cls.def(
        "runMAxxxOffAxisCalibration",
        [](Driver& self, bool output, float speed, py::object progress, py::object samples, ProcedureClock* clock,
           CancelFlag* cancel, double read_timeout) {
            return runCalibration(
                [&](const OffAxisCalibrationOptions& options) {
                    return self.runMAxxxOffAxisCalibration(output, speed, options);
                },
                std::move(progress), std::move(samples), clock, cancel, read_timeout);
        },
        py::arg("output"), py::arg("speed"), py::arg("progress") = py::none(), py::arg("samples") = py::none(),
        py::arg("clock") = py::none(), py::arg("cancel") = py::none(), py::arg("read_timeout") = 2.0,
        "Calibrates the off-axis error of an encoder's sensor chip while the shaft turns at `speed` degrees "
        "per second and returns an OffAxisCalibrationResult. `progress(stage, sample)` and "
        "`samples(OffAxisSamples)` observe it (an exception they raise cancels the run and is raised "
        "again); `clock`, `cancel` and `read_timeout` (seconds) as for flash.");
    addFlash(cls);
}

}  // namespace kinetra::python
