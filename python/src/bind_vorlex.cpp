// The Vorlex class: each operation returns its value(s) and raises when it
// fails.

#include <kinetra/vorlex.h>

#include "bindings.h"
#include "devices/protocol/vorlex_operations.h"
#include "operation.h"
#include "table_operation.h"
#include "procedures.h"
#include "proxy_common.h"

namespace kinetra::python {

void bindVorlex(py::module_& m) {
    auto cls = bindProxy<Vorlex>(m, "Vorlex", "Proxy of one Vorlex magnetic rotary encoder node, with the conventions of Driver.");
    // The operations of the class's table, under its names and descriptions.
    KINETRA_VORLEX_OPERATIONS(KINETRA_BIND_FROM_TABLE, KINETRA_BIND_FROM_TABLE, (Vorlex, Vorlex, protocol::vorlex::vorlex_ops))
    KINETRA_SENSOR_COMMON_OPERATIONS(KINETRA_BIND_FROM_TABLE, KINETRA_BIND_FROM_TABLE, (Vorlex, Vorlex, protocol::sensor_ops))
    cls.def(
        "runMAxxxOffAxisCalibration",
        [](Vorlex& self, float speed, py::object progress, py::object samples, ProcedureClock* clock,
           CancelFlag* cancel, double read_timeout) {
            return runCalibration(
                [&](const OffAxisCalibrationOptions& options) { return self.runMAxxxOffAxisCalibration(speed, options); },
                std::move(progress), std::move(samples), clock, cancel, read_timeout);
        },
        py::arg("speed"), py::arg("progress") = py::none(), py::arg("samples") = py::none(),
        py::arg("clock") = py::none(), py::arg("cancel") = py::none(), py::arg("read_timeout") = 2.0,
        "Calibrates the off-axis error of the encoder's chip while the shaft turns at `speed` degrees per "
        "second; returns an OffAxisCalibrationResult. Arguments as for Driver.runMAxxxOffAxisCalibration.");
}

}  // namespace kinetra::python
