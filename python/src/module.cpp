// The compiled part of the Python package kinetra: the library's public API and the simulator.

#include "bindings.h"

PYBIND11_MODULE(_core, m) {
    using namespace kinetra::python;
    m.doc() =
        "Control of Kinetra CAN-bus motion devices through an SLCAN adapter. Every operation returns its "
        "status; a read returns a tuple (status, values...). kinetra.check() raises KinetraError instead of "
        "returning a failed status. Calls that wait on the bus release the GIL. Interface callbacks run "
        "on a thread of the module's own with the GIL taken, so they may call any operation.";
    bindStatus(m);
    bindInterfaces(m);
    bindProcedures(m);
    bindDriver(m);
    bindActuator(m);
    bindImu(m);
    bindVorlex(m);
    bindSimulator(m);
    bindNames(m);
    bindMessages(m);
    bindCycle(m);
}
