"""Updates the firmware of a driver or actuator, with a progress bar.

    python3 flash_firmware.py                      # a simulated bus, a generated image
    python3 flash_firmware.py /dev/ttyACM0 --node 1 --file firmware.hex --verify

Without a port it starts a simulated bus in-process, generates an image and lets
the simulated bootloader's pauses pass at once, so it ends in about a second.
Ctrl-C stops the update; the device then waits in its bootloader for
`--already-in-dfu`.
"""

from __future__ import annotations

import argparse
import contextlib
import sys
import tempfile
from pathlib import Path
from typing import Optional

import kinetra
from kinetra import sim

BAR_WIDTH = 30
FLASH_BASE = 0x08000000


class ProgressBar:
    """One line per stage, redrawn in place on a terminal."""

    def __init__(self) -> None:
        self.redraw = sys.stdout.isatty()

    def __call__(self, report: kinetra.FlashProgress) -> None:
        finished = report.done == report.total
        if not (self.redraw or finished):
            return
        filled = BAR_WIDTH * report.done // report.total if report.total else BAR_WIDTH
        bar = "#" * filled + "-" * (BAR_WIDTH - filled)
        name = str(report.stage).split(".")[-1].lower()
        sys.stdout.write(f"\r{name:<10} [{bar}] {report.done}/{report.total}" + ("\n" if finished else ""))
        sys.stdout.flush()


def version_text(version: kinetra.FirmwareVersion) -> str:
    return f"{version.major}.{version.minor}.{version.patch}"


def flash(port: str, node: int, path: Path, *, verify: bool, already_in_dfu: bool,
          clock: Optional[kinetra.ProcedureClock]) -> int:
    with kinetra.Bus(port) as bus:
        if not already_in_dfu and not bus.wait_for(node, timeout=3.0):
            print(f"node {node} is not on the bus", file=sys.stderr)
            return 1
        device: kinetra.Driver | kinetra.Actuator
        if bus.nodes().get(node) == kinetra.DeviceType.Actuator:
            device = bus.actuator(node)
        else:
            device = bus.driver(node)
        before = None if already_in_dfu else version_text(device.get_firmware_version())
        try:
            device.flash(path, verify=verify, already_in_dfu=already_in_dfu, progress=ProgressBar(), clock=clock)
        except kinetra.FlashError as error:
            print(f"\n{error}", file=sys.stderr)
            return 1
        except KeyboardInterrupt:
            print("\nstopped: the device waits in its bootloader; run again with --already-in-dfu", file=sys.stderr)
            return 130
        if not bus.wait_for(node, timeout=5.0):
            print(f"node {node} did not come back", file=sys.stderr)
            return 1
        after = version_text(device.get_firmware_version())
        print(f"node {node}: firmware {after}" + (f" (was {before})" if before else ""))
        return 0
    return 1  # not reached: the bus lets every exception through


def main(argv: Optional[list[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    parser.add_argument("port", nargs="?", help="the adapter's port; none: a simulated bus")
    parser.add_argument("--node", type=int, default=1)
    parser.add_argument("--file", type=Path, help="the Intel HEX image; none: a generated one (simulator only)")
    parser.add_argument("--verify", action="store_true", help="read every block back")
    parser.add_argument("--already-in-dfu", action="store_true", help="finish an update that stopped")
    args = parser.parse_args(argv)
    status = 1
    with contextlib.ExitStack() as stack:
        port: Optional[str] = args.port
        clock: Optional[kinetra.ProcedureClock] = None
        path: Optional[Path] = args.file
        if port is None:
            simulator = stack.enter_context(kinetra.Simulator())
            target = simulator.node(args.node)
            if isinstance(target, sim.MotorControllerNode):
                target.set_boot_timing(erase_time_scale=0)
            port = simulator.port
            clock = kinetra.ManualClock()  # the simulated bootloader needs none of the pauses
        if path is None:
            if args.port is not None:
                parser.error("--file is needed with a port")
            folder = Path(stack.enter_context(tempfile.TemporaryDirectory()))
            path = folder / "firmware.hex"
            path.write_text(sim.intel_hex_text(FLASH_BASE, sim.firmware_image(4096, 2, 5, 0)))
        status = flash(port, args.node, path, verify=args.verify, already_in_dfu=args.already_in_dfu, clock=clock)
    return status


if __name__ == "__main__":
    sys.exit(main())
