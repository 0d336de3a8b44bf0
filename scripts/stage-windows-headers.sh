#!/usr/bin/env bash
# Stages the build host's header-only libraries (Boost, CLI11, nlohmann-json, Eigen) into
# DIR for the MinGW cross build: links to their own directories only, so that
# the C library headers under /usr/include never reach the Windows compiler.
set -euo pipefail
dir=${1:?usage: stage-windows-headers.sh DIR}
mkdir -p "$dir"
for header in /usr/include/boost /usr/include/CLI /usr/include/nlohmann /usr/include/eigen3/Eigen /usr/include/eigen3/unsupported; do
  [ -e "$header" ] || { echo "missing $header: run scripts/install-deps.sh" >&2; exit 1; }
  ln -sfn "$header" "$dir/$(basename "$header")"
done
