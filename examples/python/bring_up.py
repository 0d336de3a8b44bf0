#!/usr/bin/env python3
"""Brings up a bus: lists the nodes as they appear, reads each one's versions,
reads the driver's bus voltage and state, moves its motor and follows it there,
and shows how a failed operation reports itself.

    python3 bring_up.py                  # a simulated bus, in-process
    python3 bring_up.py /dev/ttyACM0     # an adapter's port

Without a port it starts the simulator (driver 1, actuator 2, IMU 3, encoder 4)
and also makes the driver stop answering for a moment, to show a ReplyTimeout.
"""

import sys
import time
from typing import Optional

import kinetra

DRIVER = 1
SIMULATED_NODES = [1, 2, 3, 4]
TARGET_TURNS = 2.0
SETTLED_TURNS = 0.05
FOLLOW_FOR_S = 5.0
POLL_S = 0.05


def follow(driver: kinetra.Driver, target: float) -> float:
    """Polls the motor's position until it is within SETTLED_TURNS of `target` or FOLLOW_FOR_S passed."""
    deadline = time.monotonic() + FOLLOW_FOR_S
    position = driver.get_motor_position()
    while abs(position - target) > SETTLED_TURNS and time.monotonic() < deadline:
        time.sleep(POLL_S)
        position = driver.get_motor_position()
    return position


def firmware(bus: kinetra.Bus, node: int, kind: "kinetra.DeviceType | int") -> kinetra.FirmwareVersion:
    """The firmware version of `node`, read through the proxy of its device type."""
    if kind == kinetra.DeviceType.Actuator:
        return bus.actuator(node).get_firmware_version()
    if kind == kinetra.DeviceType.IMU:
        return bus.imu(node).get_firmware_version()
    if kind == kinetra.DeviceType.Encoder:
        return bus.encoder(node).get_firmware_version()
    return bus.driver(node).get_firmware_version()


def bring_up(port: str, simulator: Optional[kinetra.Simulator]) -> int:
    def appeared(node: int, kind: "kinetra.DeviceType | int") -> None:
        print(f"node {node} appeared: {kind}")

    with kinetra.Bus(port, on_appeared=appeared) as bus:
        expected = SIMULATED_NODES if simulator is not None else [DRIVER]
        missing = [node for node in expected if not bus.wait_for(node, timeout=3.0)]
        if missing:
            print(f"nodes {missing} did not appear", file=sys.stderr)
            return 1
        for node, kind in sorted(bus.nodes().items()):
            version = firmware(bus, node, kind)
            print(f"node {node} ({kind}): firmware {version.major}.{version.minor}.{version.patch}")

        driver = bus.driver(DRIVER)
        print(f"bus voltage {driver.get_bus_voltage():.2f} V, "
              f"controller {kinetra.controller_state_name(driver.get_controller_state())}")
        driver.set_device_to_active()
        driver.set_position_control(TARGET_TURNS, 0)
        print(f"motor at {follow(driver, TARGET_TURNS):.3f} turns (target {TARGET_TURNS})")
        driver.set_device_to_idle()

        if simulator is not None:
            simulator.node(DRIVER).set_reply_faults(drop_fraction=1.0)
            try:
                driver.get_bus_voltage()
            except kinetra.ReplyTimeout as error:
                print(f"{error.operation} on node {error.node}: {error.status}")
            simulator.node(DRIVER).set_reply_faults(drop_fraction=0.0)
        try:
            driver.set_position_control(float("nan"), 0)
        except kinetra.InvalidArgument as error:
            print(f"refused before sending: {error}")
    return 0


def main() -> int:
    if len(sys.argv) > 1:
        return bring_up(sys.argv[1], None)
    with kinetra.Simulator() as simulator:
        return bring_up(simulator.port, simulator)


if __name__ == "__main__":
    sys.exit(main())
