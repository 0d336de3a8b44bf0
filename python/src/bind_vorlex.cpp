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
    // Operations that are not one exchange.
    addVorlexProcedures(cls);
}

}  // namespace kinetra::python
