#!/usr/bin/env bash
# A scripted tour of the kinetra tool against its in-process simulated bus:
# what a user does first with a new machine, from finding the adapter to a
# firmware update and a sensor calibration. Usage: scripts/demo-tour.sh [BUILD_DIR]
set -euo pipefail

build="${1:-build}"
kinetra="$build/kinetra"
if [ ! -x "$kinetra" ]; then
  echo "demo-tour: $kinetra not found; build first (make build)" >&2
  exit 1
fi
work="$build/demo-tour"
mkdir -p "$work"

step() {
  printf '\n$ kinetra %s\n' "$*"
  "$kinetra" "$@"
}

step ports --sim
step scan --sim
step info 1 --sim
step telemetry 1 --once --sim
step position 1 5 --sim
step config export 1 -o "$work/node1.json" --sim
step config import 1 "$work/node1.json" --save --sim
"$build/examples/firmware_image" "$work/firmware.hex" 2.5.0 4096 >/dev/null
step flash 1 "$work/firmware.hex" --verify --backup "$work/node1-backup.json" --sim
step calibrate 4 --speed 360 --plot "$work/calibration.svg" --sim

# The web dashboard on the simulator for a few seconds, seen by headless
# Chromium; its screenshot is the one the README shows.
if "$kinetra" dashboard --help >/dev/null 2>&1; then
  printf '\n$ kinetra dashboard --sim   (screenshot by headless Chromium: %s)\n' "$work/dashboard.png"
  /usr/bin/python3 tests/dashboard/browser_check.py "$kinetra" --screenshot "$work/dashboard.png" ||
    echo "demo-tour: no dashboard screenshot (Chromium, its driver or Selenium missing)"
fi
