#!/usr/bin/env python3
"""The dashboard in headless Chromium against `kinetra dashboard --sim`.

Usage: browser_check.py KINETRA OUT_DIR [FIRMWARE_IMAGE_TOOL]     the browser tests
       browser_check.py KINETRA --screenshot PNG                   the README's screenshot

Exits 77 (skipped) when Chromium, its driver or Selenium is missing. Every wait
is for a condition, with a bound; none is a bare sleep.
"""
import csv
import os
import re
import select
import shutil
import subprocess
import sys
import time

SKIP = 77
# Generous bounds: a sanitizer build on a loaded two-core machine is slow, and
# these bound waits for conditions, they measure nothing.
START_TIMEOUT = 60
WAIT = 60
FLASH_WAIT = 180

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait
except ImportError:
    print("skipped: python3-selenium is not installed")
    sys.exit(SKIP)


def find(name, *candidates):
    for candidate in candidates:
        path = shutil.which(candidate)
        if path:
            return path
    print(f"skipped: {name} is not installed")
    sys.exit(SKIP)


class Dashboard:
    """`kinetra dashboard --sim` in its own process, its URL read from its start line."""

    def __init__(self, kinetra, bus=("--sim",)):
        self.process = subprocess.Popen([kinetra, "dashboard", *bus], stdout=subprocess.PIPE, text=True)
        end = time.monotonic() + START_TIMEOUT
        line = ""
        while time.monotonic() < end and "http://" not in line:
            ready, _, _ = select.select([self.process.stdout], [], [], end - time.monotonic())
            if not ready:
                break
            line = self.process.stdout.readline()
            if not line:
                break
        match = re.search(r"http://\S+", line)
        if not match:
            self.stop()
            raise SystemExit(f"the dashboard printed no URL: {line!r}")
        self.url = match.group(0)

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def browser(download_dir=None):
    options = webdriver.ChromeOptions()
    options.binary_location = find("chromium", "chromium", "chromium-browser")
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                     "--window-size=1500,1100"):
        options.add_argument(argument)
    if download_dir:
        options.add_experimental_option("prefs", {"download.default_directory": download_dir,
                                                  "download.prompt_for_download": False})
    return webdriver.Chrome(service=Service(find("chromedriver", "chromedriver")), options=options)


def until(driver, what, condition, timeout=WAIT):
    try:
        return WebDriverWait(driver, timeout, poll_frequency=0.1).until(lambda d: condition())
    except Exception as error:
        raise AssertionError(f"timed out waiting for {what}: {error}") from None


def js(driver, expression):
    return driver.execute_script("return " + expression)


def latest(driver, node, channel):
    return js(driver, f"(window.kinetraDashboard.latest[{node}] || {{}})['{channel}']")


def node(driver, number):
    return driver.find_element(By.ID, f"node-{number}")


def click(driver, element):
    driver.execute_script("arguments[0].scrollIntoView({block: 'center'});", element)
    element.click()


def confirm_if_asked(driver):
    """The first moving control asks once; later ones act at once."""
    if js(driver, "window.kinetraDashboard.armed"):
        return
    until(driver, "the confirmation", lambda: driver.find_element(By.ID, "confirm").is_displayed())
    click(driver, driver.find_element(By.ID, "confirm-yes"))
    until(driver, "the page to be armed", lambda: js(driver, "window.kinetraDashboard.armed"))


def set_point(driver, number, action, value):
    section = node(driver, number)
    field = section.find_element(By.CSS_SELECTOR, f".{action}-value")
    field.clear()
    field.send_keys(str(value))
    click(driver, section.find_element(By.CSS_SELECTOR, f".{action}-send"))
    confirm_if_asked(driver)


def button(driver, number, action):
    click(driver, node(driver, number).find_element(By.CSS_SELECTOR, f"button[data-action='{action}']"))


def state_of(driver, number):
    return latest(driver, number, "state")


def check_nodes_and_plots(driver):
    until(driver, "the four nodes", lambda: len(driver.find_elements(By.CSS_SELECTOR, "section.node")) == 4)
    for number, name in ((1, "driver"), (2, "actuator"), (3, "imu"), (4, "encoder")):
        until(driver, f"node {number}'s title", lambda: node(driver, number).find_element(
            By.CSS_SELECTOR, ".title").text == f"node {number} {name}")
    for number, channel in ((1, "position"), (2, "position"), (3, "yaw"), (4, "angle")):
        until(driver, f"node {number}'s {channel}", lambda: latest(driver, number, channel) is not None)
    # The simulated IMU turns: its plotted yaw changes.
    first = latest(driver, 3, "yaw")
    until(driver, "the IMU's yaw to change", lambda: latest(driver, 3, "yaw") not in (None, first))
    until(driver, "the plots", lambda: js(driver, "[...window.kinetraDashboard.nodes.values()]"
                                                  ".every(v => v.graph && v.graph.numRows() > 0)"))


def check_position(driver):
    button(driver, 1, "active")
    confirm_if_asked(driver)
    until(driver, "node 1 active", lambda: state_of(driver, 1) == 1)
    set_point(driver, 1, "position", 3)
    until(driver, "the driver to reach 3 turns", lambda: abs((latest(driver, 1, "position") or 0) - 3) < 0.05)
    assert latest(driver, 1, "set_point") == 3
    # The plot follows: its last row holds the measured position next to the set point.
    column = js(driver, "window.kinetraDashboard.nodes.get(1).labels.indexOf('position')")
    until(driver, "the plot to show the new position", lambda: abs(js(
        driver, f"(g => g.getValue(g.numRows() - 1, {column}))(window.kinetraDashboard.nodes.get(1).graph)") - 3)
          < 0.05)


def check_emergency_stop(driver):
    motors = (1, 2)
    click(driver, driver.find_element(By.ID, "estop-all"))
    until(driver, "every driver stopped by the button", lambda: all(state_of(driver, n) == 3 for n in motors))
    for number in motors:
        button(driver, number, "clear_errors")
    until(driver, "the stops cleared", lambda: all(state_of(driver, n) != 3 for n in motors))
    driver.find_element(By.TAG_NAME, "body").send_keys(Keys.ESCAPE)
    until(driver, "every driver stopped by the key", lambda: all(state_of(driver, n) == 3 for n in motors))


def check_configuration(driver):
    section = node(driver, 1)
    click(driver, section.find_element(By.CSS_SELECTOR, ".config summary"))
    click(driver, section.find_element(By.CSS_SELECTOR, ".config-read"))
    until(driver, "the configuration table", lambda: js(
        driver, "(window.kinetraDashboard.nodes.get(1).config || {}).gear_ratio") is not None)
    before = js(driver, "window.kinetraDashboard.nodes.get(1).config.gear_ratio")
    wanted = 3 if before != 3 else 2
    row = section.find_element(By.CSS_SELECTOR, "tr[data-member='gear_ratio']")
    field = row.find_element(By.CSS_SELECTOR, ".config-value")
    field.clear()
    field.send_keys(str(wanted))
    click(driver, row.find_element(By.CSS_SELECTOR, ".config-write"))
    confirm_if_asked(driver)
    until(driver, "the edited value read back from the device",
          lambda: js(driver, "window.kinetraDashboard.nodes.get(1).config.gear_ratio") == wanted)


def check_flash(driver, image_tool, out_dir):
    image = os.path.join(out_dir, "firmware.hex")
    subprocess.run([image_tool, image, "2.5.0", "4096"], check=True, stdout=subprocess.DEVNULL, timeout=60)
    section = node(driver, 1)
    click(driver, section.find_element(By.CSS_SELECTOR, ".flash summary"))
    section.find_element(By.CSS_SELECTOR, ".flash-file").send_keys(image)
    click(driver, section.find_element(By.CSS_SELECTOR, ".flash-start"))
    confirm_if_asked(driver)
    until(driver, "the flash to end", lambda: (js(driver, "window.kinetraDashboard.lastFlash") or {}).get("ok")
          is not None, FLASH_WAIT)
    assert js(driver, "window.kinetraDashboard.lastFlash.ok"), section.find_element(
        By.CSS_SELECTOR, ".flash-result").text
    bar = section.find_element(By.CSS_SELECTOR, ".flash-progress")
    assert float(bar.get_attribute("value")) == float(bar.get_attribute("max")), "the progress bar is not full"
    until(driver, "the new version", lambda: "firmware 2.5.0" in section.find_element(
        By.CSS_SELECTOR, ".identity").text)


def check_recording(driver, out_dir):
    click(driver, driver.find_element(By.ID, "record"))
    until(driver, "the recording to start", lambda: js(driver, "window.kinetraDashboard.recording"))
    start = js(driver, "window.kinetraDashboard.received")
    until(driver, "samples while recording", lambda: js(driver, "window.kinetraDashboard.received") > start + 200)
    click(driver, driver.find_element(By.ID, "record"))
    until(driver, "the recording to stop", lambda: not js(driver, "window.kinetraDashboard.recording"))
    target = os.path.join(out_dir, "recording.csv")
    if os.path.exists(target):
        os.remove(target)
    click(driver, driver.find_element(By.ID, "download-csv"))
    until(driver, "the download", lambda: os.path.exists(target) and not os.path.exists(target + ".crdownload"))
    with open(target, newline="") as handle:
        rows = list(csv.DictReader(handle))
    assert rows, "the recording is empty"
    times = [float(row["time"]) for row in rows]
    assert all(a <= b for a, b in zip(times, times[1:])), "time stamps go back"
    assert {row["node"] for row in rows} == {"1", "2", "3", "4"}, "not every node recorded"


def check_calibration(driver):
    section = node(driver, 4)
    click(driver, section.find_element(By.CSS_SELECTOR, ".calibration summary"))
    click(driver, section.find_element(By.CSS_SELECTOR, ".calibration-start"))
    confirm_if_asked(driver)
    result = until(driver, "the calibration to end", lambda: js(driver, "window.kinetraDashboard.lastCalibration"),
                   FLASH_WAIT)
    assert result["ok"], section.find_element(By.CSS_SELECTOR, ".calibration-result").text
    errors = [m["error"] for m in result["measurements"]]
    assert errors[-1] < errors[0], f"the error did not shrink: {errors}"
    until(driver, "the plot of the error before and after", lambda: js(
        driver, "document.querySelector('#node-4 .calibration-plot canvas') !== null"))


def check_replug(kinetra, out_dir):
    """An adapter unplugged while a page watches shows as lost, and the page recovers on replug."""
    link = os.path.join(os.path.abspath(out_dir), "sim-link")
    if os.path.lexists(link):
        os.remove(link)
    dashboard = None
    sim = subprocess.Popen([kinetra, "sim", "--link", link],
                           stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, text=True)
    driver = None
    try:
        end = time.monotonic() + START_TIMEOUT
        while not os.path.exists(link):
            if time.monotonic() > end or sim.poll() is not None:
                raise AssertionError("kinetra-sim made no link")
            time.sleep(0.05)  # a bounded wait for a file, which offers nothing to wait on
        dashboard = Dashboard(kinetra, ("--slcan", link))
        driver = browser()
        driver.get(dashboard.url)
        until(driver, "the four nodes", lambda: len(driver.find_elements(By.CSS_SELECTOR, "section.node")) == 4)
        sim.stdin.write("unplug\n")
        sim.stdin.flush()
        until(driver, "the bus shown lost", lambda: js(driver, "window.kinetraDashboard.bus") == "lost")
        received = js(driver, "window.kinetraDashboard.received")
        sim.stdin.write("replug\n")
        sim.stdin.flush()
        until(driver, "the bus back", lambda: js(driver, "window.kinetraDashboard.bus") == "ok")
        until(driver, "telemetry again", lambda: js(driver, "window.kinetraDashboard.received") > received + 100)
    finally:
        if driver:
            driver.quit()
        if dashboard:
            dashboard.stop()
        sim.stdin.close()
        sim.terminate()
        sim.wait(timeout=20)


def run_tests(kinetra, out_dir, image_tool):
    os.makedirs(out_dir, exist_ok=True)
    dashboard = Dashboard(kinetra)
    driver = browser(download_dir=os.path.abspath(out_dir))
    try:
        driver.set_page_load_timeout(WAIT)
        driver.get(dashboard.url)
        steps = [("nodes and plots", lambda: check_nodes_and_plots(driver)),
                 ("position set point", lambda: check_position(driver)),
                 ("emergency stop", lambda: check_emergency_stop(driver)),
                 ("configuration", lambda: check_configuration(driver)),
                 ("recording", lambda: check_recording(driver, out_dir))]
        if image_tool:
            steps.append(("firmware update", lambda: check_flash(driver, image_tool, out_dir)))
        steps.append(("sensor calibration", lambda: check_calibration(driver)))
        steps.append(("unplugged and replugged", lambda: check_replug(kinetra, out_dir)))
        for name, step in steps:
            step()
            print(f"ok: {name}", flush=True)
        errors = [entry for entry in driver.get_log("browser") if entry["level"] == "SEVERE"]
        assert not errors, f"the page logged errors: {errors}"
        lost = js(driver, "window.kinetraDashboard.lost")
        print(f"samples received {js(driver, 'window.kinetraDashboard.received')}, lost {lost}")
    except BaseException:
        driver.save_screenshot(os.path.join(out_dir, "failure.png"))
        raise
    finally:
        driver.quit()
        dashboard.stop()


def screenshot(kinetra, png):
    dashboard = Dashboard(kinetra)
    driver = browser()
    try:
        driver.set_page_load_timeout(WAIT)
        driver.get(dashboard.url)
        check_nodes_and_plots(driver)
        button(driver, 1, "active")
        confirm_if_asked(driver)
        set_point(driver, 1, "position", 4)
        button(driver, 2, "active")
        set_point(driver, 2, "velocity", 1)
        until(driver, "the driver to move", lambda: (latest(driver, 1, "position") or 0) > 2)
        # A few seconds of plot, waited for by the data the page received.
        until(driver, "six seconds of telemetry", lambda: (latest(driver, 1, "t") or 0) > 6)
        driver.save_screenshot(png)
    finally:
        driver.quit()
        dashboard.stop()


def main():
    if len(sys.argv) >= 4 and sys.argv[2] == "--screenshot":
        screenshot(sys.argv[1], sys.argv[3])
    elif len(sys.argv) in (3, 4):
        run_tests(sys.argv[1], sys.argv[2], sys.argv[3] if len(sys.argv) == 4 else None)
    else:
        print(__doc__)
        sys.exit(2)


if __name__ == "__main__":
    main()
