#!/usr/bin/env bash
# A scripted tour of the kinetra tool against its in-process simulated bus:
# what a user does first with a new machine. Usage: scripts/demo-tour.sh [BUILD_DIR]
set -euo pipefail

build="${1:-build}"
kinetra="$build/kinetra"
if [ ! -x "$kinetra" ]; then
  echo "demo-tour: $kinetra not found; build first (make build)" >&2
  exit 1
fi

step() {
  printf '\n$ kinetra %s\n' "$*"
  "$kinetra" "$@"
}

step ports --sim
step scan --sim
step info 1 --sim
step telemetry 1 --once --sim
step adapter --sim
step position 1 5 --sim
step telemetry 4 --count 3 --rate 4 --sim
step monitor --sim --duration 0.25
