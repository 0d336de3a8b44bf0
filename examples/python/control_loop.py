#!/usr/bin/env python3
"""A robot's control loop: twelve motor drivers on four buses (a leg per bus,
three motors each), each sent a position set point and read back (position and
velocity) every period, at 100 Hz, by one ControlCycle.

It runs against four simulated buses with the timing model on (500 kbit/s, 1 ms
adapter latency each way), so the rate is one real hardware allows. With
hardware, open each adapter's port instead and drop the simulator.
"""

import contextlib
import math
import sys
import time

import numpy as np
import numpy.typing as npt

import kinetra

BUSES = 4
PER_BUS = 3
MOTORS = BUSES * PER_BUS
RATE_HZ = 100.0
RUN_FOR_S = 2.0
AMPLITUDE = 0.25  # turns
WAVE_HZ = 0.5


def main() -> int:
    nodes = {node: kinetra.DeviceType.Driver for node in range(1, PER_BUS + 1)}
    with kinetra.Simulator(nodes, buses=BUSES, timing=True) as sim, contextlib.ExitStack() as stack:
        buses = [stack.enter_context(kinetra.Bus(port)) for port in sim.ports]
        if not all(bus.wait_for(node, timeout=3.0) for bus in buses for node in nodes):
            print("the simulated drivers did not appear", file=sys.stderr)
            return 1
        drivers = [bus.driver(node) for bus in buses for node in nodes]

        # Set up once: per motor its activation and position command, then its
        # position and velocity reads, straight into these arrays.
        position: npt.NDArray[np.float32] = np.zeros(MOTORS, np.float32)
        velocity: npt.NDArray[np.float32] = np.zeros(MOTORS, np.float32)
        cycle = kinetra.ControlCycle(buses)
        commands: list[int] = []
        for i, driver in enumerate(drivers):
            cycle.add_command(driver, kinetra.MotorCommand.Active)
            commands.append(cycle.add_command(driver, kinetra.MotorCommand.PositionControl))
            cycle.add_read(driver, kinetra.MotorReading.MotorPosition, out=position[i:i + 1])
            cycle.add_read(driver, kinetra.MotorReading.MotorVelocity, out=velocity[i:i + 1])
        # Each leg a quarter wave behind the one before.
        phase: npt.NDArray[np.float64] = np.repeat(np.arange(BUSES) / BUSES, PER_BUS)
        setpoints = cycle.setpoints

        period = 1.0 / RATE_HZ
        start = time.monotonic()
        next_start = start
        cycles = failed = late = 0
        while time.monotonic() - start < RUN_FOR_S:
            t = time.monotonic() - start
            setpoints[commands] = AMPLITUDE * np.sin(2 * math.pi * (WAVE_HZ * t + phase))
            failed += not cycle.run()
            cycles += 1
            next_start += period
            if time.monotonic() > next_start:
                late += 1  # this period overran: start the next one now
                next_start = time.monotonic()
            time.sleep(max(0.0, next_start - time.monotonic()))
        seconds = time.monotonic() - start
        for driver in drivers:
            driver.set_device_to_idle()

    print(f"{MOTORS} motors on {BUSES} buses, a position command and 2 reads each per cycle:")
    print(f"  asked {RATE_HZ:.0f} cycles/s, kept {cycles / seconds:.1f} cycles/s "
          f"({cycles} cycles, {late} overran, {failed} with an entry not OK)")
    print("  positions (turns):", " ".join(f"{p:.3f}" for p in position))
    # Overruns are reported, not failed on: a loaded machine overruns without a fault.
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
