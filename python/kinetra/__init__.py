"""Control of Kinetra CAN-bus motion devices through an SLCAN adapter.

The compiled part lives in ``kinetra._core``; this package is what users import.
"""

from ._core import *  # noqa: F401,F403
from ._core import __version__, sim  # noqa: F401
