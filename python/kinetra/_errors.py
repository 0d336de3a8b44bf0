"""The exceptions of the kinetra package, one class per way an operation fails."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any, Optional

if TYPE_CHECKING:
    from ._core import (ConfigFailure, FlashFailure, FlashResult, OffAxisCalibrationResult, OffAxisChipState,
                        OffAxisFailure, Status)


class KinetraError(RuntimeError):
    """A device, adapter or bus operation failed.

    ``status`` is the library's status code (a ``kinetra.Status``) or None when
    the failure has none, ``node`` the node addressed or None, ``operation`` the
    snake_case name of the operation or None.
    """

    def __init__(self, message: str, status: Optional[Status] = None, node: Optional[int] = None,
                 operation: Optional[str] = None) -> None:
        super().__init__(message)
        self.status = status
        self.node = node
        self.operation = operation

    def __reduce__(self) -> Any:
        return (type(self), (str(self), self.status, self.node, self.operation))


class ReplyTimeout(KinetraError):
    """The node did not answer within the reply time (RET_TIMEOUT)."""


class NodeNotConnected(KinetraError):
    """The node is not present on the bus (RET_NOT_CONNECTED)."""


class BusNotRunning(KinetraError):
    """The bus is closed, or its last send failed (RET_NOT_RUNNING)."""


class InvalidArgument(KinetraError, ValueError):
    """An argument is NaN, infinite or outside its range; nothing was sent (RET_INVALID_ARGUMENT)."""


class NotInitialised(KinetraError):
    """The proxy has no implementation behind it (RET_NOT_INITIALISED)."""


class AdapterError(KinetraError, OSError):
    """The adapter or its port cannot be used, or the adapter did not answer."""


class ProcedureError(KinetraError):
    """A long procedure failed: ``stage`` is where, ``reason`` why, as the library reports them."""

    stage: Any
    reason: Optional[str]

    def __init__(self, message: str, status: Optional[Status] = None, node: Optional[int] = None,
                 operation: Optional[str] = None, stage: Optional[Any] = None,
                 reason: Optional[str] = None) -> None:
        super().__init__(message, status, node, operation)
        self.stage = stage
        self.reason = reason

    def __reduce__(self) -> Any:
        return (type(self), (str(self), self.status, self.node, self.operation, self.stage, self.reason))


class FlashError(ProcedureError):
    """A firmware update failed.

    ``stage`` is the step it stopped at (a ``FlashStep``), ``failure`` why (a
    ``FlashFailure``), ``sector`` and ``address`` where in an erase, write or
    read-back, ``reply_byte`` the bootloader's refusing byte, ``file_line`` the
    firmware file's line at fault (0 for none), ``in_bootloader`` whether the
    device waits in its bootloader for ``flash(..., already_in_dfu=True)``, and
    ``result`` all of it as a ``FlashResult``.
    """

    failure: FlashFailure
    sector: int
    address: int
    reply_byte: int
    file_line: int
    in_bootloader: bool
    result: FlashResult


class ConfigurationError(ProcedureError):
    """A configuration export or import failed.

    ``failure`` says how (a ``ConfigFailure``); ``member`` names the document's
    member refused before anything was sent, ``failed_operation`` the device
    operation that failed (with ``status``), and ``groups_written`` how many
    setting groups an import had sent.
    """

    failure: ConfigFailure
    member: Optional[str]
    failed_operation: Optional[str]
    groups_written: int


class CalibrationError(ProcedureError):
    """A calibration did not calibrate the chip.

    ``stage`` is the last stage it began (an ``OffAxisStage``), ``failure`` why
    (an ``OffAxisFailure``), ``chip`` what the chip holds now (an
    ``OffAxisChipState``) and ``result`` what the run measured and wrote (an
    ``OffAxisCalibrationResult``).
    """

    failure: OffAxisFailure
    chip: OffAxisChipState
    result: OffAxisCalibrationResult


__all__ = ["KinetraError", "ReplyTimeout", "NodeNotConnected", "BusNotRunning", "InvalidArgument",
           "NotInitialised", "AdapterError", "ProcedureError", "FlashError", "ConfigurationError",
           "CalibrationError"]
