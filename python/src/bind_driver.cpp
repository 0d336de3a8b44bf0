// The Driver class: every operation returns its status, a read the status and
// its values as one tuple.

#include <kinetra/driver.h>

#include "bindings.h"
#include "operation.h"
#include "table_operation.h"
#include "devices/protocol/motor_operations.h"
#include "procedures.h"
#include "proxy_common.h"

namespace kinetra::python {

void bindDriver(py::module_& m) {
    auto cls = bindProxy<Driver>(m, "Driver", "Proxy of one motor driver node. Commands return their status once the frame is sent; a read "
                                "returns a tuple of its status and values, which are meaningful only when the status is "
                                "RET_OK (kinetra.check() raises instead). Every call releases the GIL.");
    // The operations of the class's table, under its names and descriptions.
    KINETRA_MOTOR_SHARED_OPERATIONS(KINETRA_BIND_FROM_TABLE, KINETRA_BIND_FROM_TABLE, (Driver, Driver, protocol::motor::shared_ops))
    KINETRA_DRIVER_OPERATIONS(KINETRA_BIND_FROM_TABLE, KINETRA_BIND_FROM_TABLE, (Driver, Driver, protocol::motor::driver_ops))
    // Operations that are not one exchange.
    addDriverProcedures(cls);
}

}  // namespace kinetra::python
