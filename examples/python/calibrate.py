"""Calibrates the off-axis error of an encoder's sensor chip and plots it.

    python3 calibrate.py                           # a simulated encoder
    python3 calibrate.py /dev/ttyACM0 --node 4 --speed 360 --plot error.png

Turn the shaft at a constant `--speed` (degrees per second) while it runs. The
plot (through matplotlib, when it is installed; otherwise the numbers are
printed) shows the angle error of each measurement: as the chip reported it,
with the new bias current and with the compensation table. Without a port the
simulated encoder's shaft turns with the procedure's own clock, so the run
takes a second or two instead of fifteen.
"""

from __future__ import annotations

import argparse
import contextlib
import importlib
import sys
from typing import Any, Optional

import kinetra
from kinetra import sim

TITLES = {1: "as the chip reported it", 2: "with the new bias current", 3: "with the compensation table"}


class TurningShaft(kinetra.ProcedureClock):
    """The calibration's time for a simulated encoder: each pause turns the shaft
    on by the angle the speed covers, without waiting."""

    def __init__(self, encoder: sim.EncoderNode, degrees_per_second: float) -> None:
        kinetra.ProcedureClock.__init__(self)
        self.encoder = encoder
        self.rate = degrees_per_second
        self.elapsed = 0.0
        encoder.set_shaft_angle(0.0)

    def now(self) -> float:
        return self.elapsed

    def sleep_for(self, seconds: float) -> None:
        self.elapsed += seconds
        self.encoder.set_shaft_angle(self.rate * self.elapsed)


class Progress:
    """Prints each stage as it begins, and a count of the samples on a terminal."""

    def __call__(self, report: kinetra.CalibrationProgress) -> None:
        name = str(report.stage).split(".")[-1]
        if report.done == 0:
            print(name)
        elif sys.stdout.isatty():
            end = "\n" if report.done == report.total else ""
            sys.stdout.write(f"\r  {report.done}/{report.total} samples{end}")
            sys.stdout.flush()


def show(measurements: list[kinetra.OffAxisSamples], plot: Optional[str]) -> None:
    errors: dict[int, list[float]] = {}
    for m in measurements:
        error = [a - e for a, e in zip(m.measured, m.expected)]
        mean = sum(error) / len(error)  # the offset and any whole turn are no error
        errors[m.measurement] = [e - mean for e in error]
    try:
        importlib.import_module("matplotlib").use("Agg")
        plt: Any = importlib.import_module("matplotlib.pyplot")
    except ImportError:
        for which, error in errors.items():
            print(f"measurement {which} ({TITLES[which]}): error from {min(error):.3f} to {max(error):.3f} deg")
        return
    figure, axes = plt.subplots()
    for which, error in errors.items():
        axes.plot(error, label=TITLES[which])
    axes.set_xlabel("sample")
    axes.set_ylabel("angle error [deg]")
    axes.legend()
    figure.savefig(plot or "calibration.png")
    print(f"plot: {plot or 'calibration.png'}")


def calibrate(port: str, node: int, speed: float, clock: Optional[kinetra.ProcedureClock], plot: Optional[str]) -> int:
    measurements: list[kinetra.OffAxisSamples] = []
    with kinetra.Bus(port) as bus:
        if not bus.wait_for(node, timeout=3.0):
            print(f"node {node} is not on the bus", file=sys.stderr)
            return 1
        try:
            result = bus.encoder(node).run_maxxx_off_axis_calibration(
                speed, progress=Progress(), samples=measurements.append, clock=clock)
        except kinetra.CalibrationError as error:
            print(f"not calibrated: {error.reason}", file=sys.stderr)
            return 1
        except KeyboardInterrupt:
            print("\nstopped: the chip keeps what was written so far, until its next power cycle", file=sys.stderr)
            return 130
    before, after = result.errors[0].half_peak_to_peak, result.errors[-1].half_peak_to_peak
    print(f"error before: {before:.3f} deg, after: {after:.3f} deg (half peak to peak)")
    print(f"bias current trimming: {result.bias_current}")
    show(measurements, plot)
    return 0


def main(argv: Optional[list[str]] = None) -> int:
    parser = argparse.ArgumentParser(description="Calibrates an encoder's sensor chip.")
    parser.add_argument("port", nargs="?", help="the adapter's port; none: a simulated bus")
    parser.add_argument("--node", type=int, default=4)
    parser.add_argument("--speed", type=float, default=360.0, help="the shaft's rate, degrees per second")
    parser.add_argument("--plot", help="the image file to plot to (default calibration.png)")
    args = parser.parse_args(argv)
    status = 1
    with contextlib.ExitStack() as stack:
        port: Optional[str] = args.port
        clock: Optional[kinetra.ProcedureClock] = None
        if port is None:
            simulator = stack.enter_context(kinetra.Simulator())
            encoder = simulator.node(args.node)
            if not isinstance(encoder, sim.EncoderNode):
                parser.error(f"simulated node {args.node} is not an encoder")
            clock = TurningShaft(encoder, args.speed)
            port = simulator.port
        status = calibrate(port, args.node, args.speed, clock, args.plot)
    return status


if __name__ == "__main__":
    sys.exit(main())
