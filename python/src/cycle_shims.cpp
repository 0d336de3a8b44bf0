// Stand-ins for the bus and error helpers of the package's core, until they land.

#include "cycle_shims.h"

#include <string>

namespace kinetra::python {

Interface& interfaceOf(py::handle bus) {
    if (!py::isinstance<Interface>(bus)) throw py::type_error("expected a kinetra bus");
    return bus.cast<Interface&>();
}

void raiseStatus(ret_status_t status, unsigned node, std::string_view operation) {
    throw py::value_error(std::string(operation) + " on node " + std::to_string(node) + ": status " +
                          std::to_string(static_cast<int>(status)));
}

}  // namespace kinetra::python
