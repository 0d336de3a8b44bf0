"""Backs a driver's configuration up to a file and restores it.

    python3 backup_restore.py                      # a simulated bus
    python3 backup_restore.py /dev/ttyACM0 --node 1 --file node1.json

It exports the configuration to the file, changes the position controller gain
as a careless session might, imports the file and checks the gain is back.
Nothing is saved on the device. Without a port it runs against a simulated bus
in-process.
"""

from __future__ import annotations

import argparse
import contextlib
import sys
import tempfile
from pathlib import Path
from typing import Optional

import kinetra


def backup_and_restore(port: str, node: int, path: Path) -> int:
    with kinetra.Bus(port) as bus:
        if not bus.wait_for(node, timeout=3.0):
            print(f"node {node} is not on the bus", file=sys.stderr)
            return 1
        driver = bus.driver(node)
        try:
            path.write_text(driver.export_configuration())
            print(f"node {node}: configuration saved to {path} ({path.stat().st_size} bytes)")
            gain = driver.get_position_controller_gain()
            driver.set_position_controller_gain(gain * 2)
            print(f"position gain changed to {driver.get_position_controller_gain():.3f}")
            driver.import_configuration(path.read_text())
        except kinetra.ConfigurationError as error:  # names the member refused or the exchange that failed
            print(error, file=sys.stderr)
            return 1
        restored = driver.get_position_controller_gain()
        print(f"restored from {path}: position gain {restored:.3f}")
        return 0 if abs(restored - gain) < 1e-6 else 1
    return 1  # not reached: the bus lets every exception through


def main(argv: Optional[list[str]] = None) -> int:
    parser = argparse.ArgumentParser(description="Backs a driver's configuration up and restores it.")
    parser.add_argument("port", nargs="?", help="the adapter's port; none: a simulated bus")
    parser.add_argument("--node", type=int, default=1)
    parser.add_argument("--file", type=Path, help="the backup file; none: a temporary one")
    args = parser.parse_args(argv)
    status = 1
    with contextlib.ExitStack() as stack:
        port: Optional[str] = args.port
        if port is None:
            port = stack.enter_context(kinetra.Simulator()).port
        path: Optional[Path] = args.file
        if path is None:
            path = Path(stack.enter_context(tempfile.TemporaryDirectory())) / f"node{args.node}.json"
        status = backup_and_restore(port, args.node, path)
    return status


if __name__ == "__main__":
    sys.exit(main())
