#!/usr/bin/env bash
# Runs every fuzz target of a KINETRA_FUZZ build for a while, two at a time, each
# on a scratch copy of its corpus (the repository's seeds stay as they are).
# Fails when any target reports a finding; the input is left in
# <build>/fuzz-findings/<target>/ to be minimised and kept in fuzz/corpus/<target>/.
#
#   scripts/run-fuzz.sh <build dir> <seconds per target> [parallel runs]
set -euo pipefail
build=${1:?build directory}
seconds=${2:?seconds per target}
parallel=${3:-2}
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "$build" && pwd)"

targets=()
for t in "$build"/fuzz/fuzz_*; do
  [ -x "$t" ] && [ -f "$t" ] && targets+=("$(basename "$t" | sed 's/^fuzz_//')")
done
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets in $build/fuzz (configure with KINETRA_FUZZ=ON and CXX=clang++)" >&2
  exit 1
fi

run_one() {
  local name=$1 build=$2 root=$3 seconds=$4
  local work="$build/fuzz-work/$name" findings="$build/fuzz-findings/$name"
  mkdir -p "$work" "$findings"
  local log="$build/fuzz-work/$name.log"
  if "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$findings/" "$work" "$root/fuzz/corpus/$name" >"$log" 2>&1; then
    echo "$name: $(grep -o 'number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$') executions, no finding"
  else
    echo "$name: FINDING (see $log and $findings)"
    grep -E 'ERROR|runtime error|deadly|SUMMARY' "$log" | head -n 5
    return 1
  fi
}
export -f run_one

printf '%s\n' "${targets[@]}" | xargs -P "$parallel" -I{} bash -c 'run_one "$@"' _ {} "$build" "$root" "$seconds"
