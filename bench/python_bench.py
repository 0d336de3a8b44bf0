#!/usr/bin/env python3
"""What the Python package costs next to the C++ library, measured in one run.

- A control cycle over six simulated drivers on one bus at 500 kbit/s with the
  simulator's timing model (1 ms adapter latency each way), a position command
  and two reads (position, velocity) per motor: from Python, each cycle writes
  the six set points, runs and reads the positions; the same row of
  build/bench/cycle_bench measures the C++ cycle. Rates (mean and median),
  their ratio, and per cycle: the median's difference, the calling thread's CPU
  in Python (its part in run() included) and the Python code around run(),
  next to the C++ library's CPU (all its threads).
- A single position query through the in-process simulator (no timing model),
  from Python and from build/bench/motor_bench: median latency and rate.

    cmake --build build --target kinetra_python cycle_bench motor_bench
    PYTHONPATH=build/python python3 bench/python_bench.py [--build build] [--seconds 3]
"""

import argparse
import json
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
MOTORS = 6
QUERIES = 3000
CYCLE_ROW = "BM_ControlLoop/6/1/6/3/"  # 500 kbit/s (CAN_BAUD_500K), 1 bus x 6, command + 2 reads
QUERY_ROW = "BM_GetMotorPosition"


def cpp_counters(binary, row):
    """The counters of the C++ benchmark row `row`."""
    result = subprocess.run([str(binary), "--benchmark_filter=" + row, "--benchmark_format=json"],
                            check=True, capture_output=True, text=True, timeout=300)
    benchmarks = [b for b in json.loads(result.stdout)["benchmarks"] if b.get("run_type") != "aggregate"]
    if not benchmarks or benchmarks[0].get("error_occurred"):
        raise SystemExit(f"{binary.name} {row}: no result ({benchmarks[:1]})")
    return benchmarks[0]


def python_cycle(kinetra, np, seconds):
    nodes = {node: kinetra.DeviceType.Driver for node in range(1, MOTORS + 1)}
    with kinetra.Simulator(nodes, timing=True) as sim, kinetra.Bus(sim.port) as bus:
        if not all(bus.wait_for(node, timeout=5.0) for node in nodes):
            raise SystemExit("the simulated drivers did not appear")
        cycle = kinetra.ControlCycle(bus)
        position = np.zeros(MOTORS, np.float32)
        velocity = np.zeros(MOTORS, np.float32)
        commands = []
        for i, node in enumerate(nodes):
            driver = bus.driver(node)
            commands.append(cycle.add_command(driver, kinetra.MotorCommand.PositionControl))
            cycle.add_read(driver, kinetra.MotorReading.MotorPosition, out=position[i:i + 1])
            cycle.add_read(driver, kinetra.MotorReading.MotorVelocity, out=velocity[i:i + 1])
        setpoints = cycle.setpoints
        commanded = np.array(commands)
        target = np.zeros(MOTORS, np.float32)
        cycle.run()  # warm-up, as the C++ row does
        cycle_s, around_s = [], 0.0
        failed = 0
        cpu_start = time.thread_time()
        start = time.perf_counter()
        while time.perf_counter() - start < seconds:
            begin = time.perf_counter()
            setpoints[commanded] = target
            before_run = time.perf_counter()
            failed += not cycle.run()
            after_run = time.perf_counter()
            position.sum()  # what a controller reads
            end = time.perf_counter()
            around_s += (before_run - begin) + (end - after_run)
            cycle_s.append(end - begin)
        elapsed = time.perf_counter() - start
        cpu = time.thread_time() - cpu_start
    cycles = len(cycle_s)
    return {
        "cycles_per_s": cycles / elapsed,
        "median_cycles_per_s": 1.0 / statistics.median(cycle_s),
        "thread_cpu_us": cpu / cycles * 1e6,
        "around_run_us": around_s / cycles * 1e6,
        "failed": failed,
    }


def python_query(kinetra):
    with kinetra.Simulator({1: kinetra.DeviceType.Driver}) as sim, kinetra.Bus(sim.port) as bus:
        if not bus.wait_for(1, timeout=5.0):
            raise SystemExit("the simulated driver did not appear")
        driver = bus.driver(1)
        driver.set_device_to_active()
        driver.set_velocity_control(2.0)  # a moving motor, as the C++ row
        latencies = []
        for _ in range(QUERIES):
            begin = time.perf_counter()
            driver.get_motor_position()
            latencies.append(time.perf_counter() - begin)
        driver.set_device_to_idle()
    return {"median_us": statistics.median(latencies) * 1e6, "queries_per_s": len(latencies) / sum(latencies)}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", type=Path, default=ROOT / "build", help="the build directory (default: build)")
    parser.add_argument("--seconds", type=float, default=3.0, help="how long the Python cycle runs")
    options = parser.parse_args()
    sys.path.insert(0, str(options.build / "python"))
    import numpy as np

    import kinetra

    cpp_cycle = cpp_counters(options.build / "bench" / "cycle_bench", CYCLE_ROW)
    py_cycle = python_cycle(kinetra, np, options.seconds)
    cpp_query = cpp_counters(options.build / "bench" / "motor_bench", QUERY_ROW)
    py_query = python_query(kinetra)

    print(f"Control cycle, 500 kbit/s, 1 bus x {MOTORS} drivers, command + 2 reads/motor, timing model:")
    print(f"  {'':8} {'cycles/s':>9} {'median':>9}")
    print(f"  {'C++':8} {cpp_cycle['cycles_per_s']:9.1f} {cpp_cycle['median_cycles_per_s']:9.1f}")
    print(f"  {'Python':8} {py_cycle['cycles_per_s']:9.1f} {py_cycle['median_cycles_per_s']:9.1f}"
          f"   ({py_cycle['failed']} cycles with an entry not OK)")
    print(f"  Python / C++: {py_cycle['cycles_per_s'] / cpp_cycle['cycles_per_s']:.3f} (mean), "
          f"{py_cycle['median_cycles_per_s'] / cpp_cycle['median_cycles_per_s']:.3f} (median); goal >= 0.9")
    median_gap_us = 1e6 / py_cycle["median_cycles_per_s"] - 1e6 / cpp_cycle["median_cycles_per_s"]
    print(f"  per cycle: median Python - median C++ {median_gap_us:+.0f} us; Python code around run() "
          f"{py_cycle['around_run_us']:.1f} us; Python calling thread CPU {py_cycle['thread_cpu_us']:.0f} us; "
          f"C++ library CPU (all its threads) {cpp_cycle['cpu_us_per_cycle']:.0f} us")
    print("Single position query through the in-process simulator:")
    print(f"  C++    median {cpp_query['median_us']:7.1f} us, {cpp_query['queries_per_s']:8.0f} queries/s")
    print(f"  Python median {py_query['median_us']:7.1f} us, {py_query['queries_per_s']:8.0f} queries/s")
    print(f"  Python / C++ median latency: {py_query['median_us'] / cpp_query['median_us']:.3f}; goal <= 1.2")


if __name__ == "__main__":
    main()
