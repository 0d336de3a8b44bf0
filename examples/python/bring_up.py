#!/usr/bin/env python3
"""Bring-up of a bus: list its nodes, read their versions, the driver's supply
and state, move its motor a little and leave it idle.

    python3 bring_up.py                    # against the built-in simulator
    python3 bring_up.py /dev/ttyACM0       # against a Zarvo adapter
    python3 bring_up.py /dev/ttyUSB0 --adapter slcan --driver 5
"""

from __future__ import annotations

import argparse
import contextlib
import sys
import time

import kinetra

# How far the motor moves and how long it may take to get there.
MOVE_TURNS = 0.25
MOVE_SECONDS = 3.0
POSITION_TOLERANCE_TURNS = 0.01


def describe(bus: kinetra.Bus, node: int, device_type: kinetra.DeviceType | int) -> str:
    """One line about a node: its class and firmware version."""
    proxies = {kinetra.DeviceType.Driver: bus.driver, kinetra.DeviceType.Actuator: bus.actuator,
               kinetra.DeviceType.IMU: bus.imu, kinetra.DeviceType.Encoder: bus.encoder}
    if not isinstance(device_type, kinetra.DeviceType):
        return f"node {node}: unknown device type {device_type}"
    version = proxies[device_type](node).get_firmware_version()
    return f"node {node}: {device_type.name}, firmware {version.major}.{version.minor}.{version.patch}"


def move_gently(driver: kinetra.Driver) -> float:
    """Moves the motor MOVE_TURNS from where it is and returns where it got to."""
    start = driver.get_motor_position()
    driver.set_device_to_active()
    try:
        driver.set_position_control(start + MOVE_TURNS, 0.0)
        deadline = time.monotonic() + MOVE_SECONDS
        position = start
        while time.monotonic() < deadline:
            position = driver.get_motor_position()
            if abs(position - (start + MOVE_TURNS)) < POSITION_TOLERANCE_TURNS:
                break
            time.sleep(0.05)
        return position
    finally:
        driver.set_device_to_idle()


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("port", nargs="?", help="the adapter's port; the built-in simulator when left out")
    parser.add_argument("--adapter", choices=("zarvo", "slcan"), default="zarvo")
    parser.add_argument("--driver", type=int, default=1, help="the node id of the driver to move")
    args = parser.parse_args(argv)

    with contextlib.ExitStack() as stack:
        port: str = args.port
        if port is None:
            port = stack.enter_context(kinetra.Simulator(adapter=args.adapter)).port
        bus = stack.enter_context(kinetra.Bus(port, adapter=args.adapter))
        if not bus.wait_for(args.driver, timeout=3.0):
            print(f"driver {args.driver} did not appear on {port}", file=sys.stderr)
            return 1
        time.sleep(0.3)  # the other nodes' first heartbeats
        for node, device_type in sorted(bus.nodes().items()):
            print(describe(bus, node, device_type))
        driver = bus.driver(args.driver)
        print(f"supply {driver.get_bus_voltage():.1f} V, "
              f"controller {kinetra.controller_state_name(driver.get_controller_state())}")
        position = move_gently(driver)
        print(f"moved to {position:.3f} turns; now "
              f"{kinetra.controller_state_name(driver.get_controller_state())}")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except kinetra.KinetraError as error:
        print(error, file=sys.stderr)
        sys.exit(1)
