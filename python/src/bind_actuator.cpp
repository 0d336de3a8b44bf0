// The Actuator class: each operation returns its value(s) and raises when it
// fails.

#include <kinetra/actuator.h>

#include "bindings.h"
#include "operation.h"
#include "table_operation.h"
#include "devices/protocol/motor_operations.h"
#include "procedures.h"
#include "proxy_common.h"

namespace kinetra::python {

void bindActuator(py::module_& m) {
    auto cls = bindProxy<Actuator>(m, "Actuator", "Proxy of one actuator node, with the conventions of Driver.");
    // The operations of the class's table, under its names and descriptions.
    KINETRA_MOTOR_SHARED_OPERATIONS(KINETRA_BIND_FROM_TABLE, KINETRA_BIND_FROM_TABLE, (Actuator, Actuator, protocol::motor::shared_ops))
    KINETRA_ACTUATOR_OPERATIONS(KINETRA_BIND_FROM_TABLE, KINETRA_BIND_FROM_TABLE, (Actuator, Actuator, protocol::motor::actuator_ops))
    // Operations that are not one exchange.
    addActuatorProcedures(cls);
}

}  // namespace kinetra::python
