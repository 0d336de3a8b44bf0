// The Actuator class: every operation returns its status, a read the status and
// its values as one tuple.

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
#define KINETRA_BIND_SHARED(name, params, args) \
    defineFromTable<&Actuator::name, protocol::motor::shared_ops::name>(cls);
#define KINETRA_BIND_OWN(name, params, args) defineFromTable<&Actuator::name, protocol::motor::actuator_ops::name>(cls);
    KINETRA_MOTOR_SHARED_OPERATIONS(KINETRA_BIND_SHARED, KINETRA_BIND_SHARED)
    KINETRA_ACTUATOR_OPERATIONS(KINETRA_BIND_OWN, KINETRA_BIND_OWN)
#undef KINETRA_BIND_SHARED
#undef KINETRA_BIND_OWN
    addFlash(cls);
}

}  // namespace kinetra::python
