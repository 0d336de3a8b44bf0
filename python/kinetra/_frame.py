"""The frame record of the frame observers (bus.frames(), bus.on_frame())."""

from typing import NamedTuple


class Frame(NamedTuple):
    """One CAN frame as the bus received it."""

    id: int
    """The 29- or 11-bit identifier, without the flags."""
    data: bytes
    """The payload (empty for a remote frame)."""
    dlc: int
    """The data length code (a remote frame's requested length)."""
    remote: bool
    """Whether it is a remote request."""
    extended: bool
    """Whether the identifier is extended (29 bits)."""
    timestamp: float
    """When it arrived, in seconds of time.monotonic()."""
