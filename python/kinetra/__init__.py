"""Control of Kinetra CAN-bus motion devices through an SLCAN adapter.

    with kinetra.Simulator() as sim, kinetra.Bus(sim.port) as bus:
        bus.wait_for(1)
        print(bus.driver(1).get_bus_voltage())

An operation returns its value (several as a named tuple, None for a command)
and raises a KinetraError subclass when it fails. The compiled part lives in
``kinetra._core``; this package is what users import.
"""

from ._errors import *  # noqa: F401,F403
from ._frame import Frame  # noqa: F401
from ._core import *  # noqa: F401,F403
from ._core import __version__, sim  # noqa: F401

Encoder = Vorlex  # noqa: F405
