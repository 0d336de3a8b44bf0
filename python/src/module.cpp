// The compiled part of the Python package kinetra: the library's public API and the simulator.

#include "bindings.h"

PYBIND11_MODULE(_core, m) {
    using namespace kinetra::python;
    m.doc() =
        "Control of Kinetra CAN-bus motion devices through an SLCAN adapter. An operation returns its value "
        "(several as a named tuple, None for a command) and raises a KinetraError subclass when it fails. "
        "Calls that wait on the bus release the GIL. Callbacks run on a thread of the module's own with the "
        "GIL taken, so they may call any operation.";
    bindErrors(m);
    bindStatus(m);
    bindBus(m);
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
