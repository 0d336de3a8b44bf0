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
    addDriverProcedures(cls);
}

}  // namespace kinetra::python
