#!/usr/bin/env python3
"""Benchmark of `kinetra dashboard --sim` watched by headless Chromium.

Usage: dashboard_bench.py KINETRA [SECONDS]   (default 60)

Reports the samples the page received and lost (sequence numbers checked in the
page), the server's CPU time as a share of one core, and the latency from the
read of a batch's oldest round to its arrival in the page (50th, 99th
percentile and worst). It measures; it asserts nothing.
"""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import browser_check  # noqa: E402  (skips with 77 without Selenium)


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as handle:
        fields = handle.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main():
    kinetra = sys.argv[1]
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 60.0
    dashboard = browser_check.Dashboard(kinetra)
    driver = browser_check.browser()
    try:
        driver.get(dashboard.url)
        browser_check.check_nodes_and_plots(driver)
        channels = browser_check.js(driver, "[...window.kinetraDashboard.nodes.values()]"
                                            ".reduce((n, v) => n + v.info.channels.length, 0)")
        browser_check.js(driver, "(() => { const s = window.kinetraDashboard; s.received = 0; s.lost = 0;"
                                 " s.latencies.length = 0; return 0; })()")
        cpu_before, wall_before = cpu_seconds(dashboard.process.pid), time.monotonic()
        end = wall_before + seconds
        while time.monotonic() < end:
            time.sleep(min(1.0, end - time.monotonic()))
        cpu = (cpu_seconds(dashboard.process.pid) - cpu_before) / (time.monotonic() - wall_before)
        received = browser_check.js(driver, "window.kinetraDashboard.received")
        lost = browser_check.js(driver, "window.kinetraDashboard.lost")
        latencies = sorted(browser_check.js(driver, "window.kinetraDashboard.latencies"))
    finally:
        driver.quit()
        dashboard.stop()
    rate = received / seconds
    pick = lambda q: latencies[min(len(latencies) - 1, int(q * len(latencies)))] if latencies else float("nan")
    print(f"{seconds:.0f} s, 4 nodes, {channels} channels at 100 Hz")
    print(f"node samples received {received} ({rate:.1f}/s), lost {lost}")
    print(f"server CPU {100 * cpu:.1f}% of one core")
    print(f"latency to the page: p50 {pick(0.5):.1f} ms, p99 {pick(0.99):.1f} ms, worst {latencies[-1] if latencies else 0:.1f} ms")


if __name__ == "__main__":
    main()
