#!/usr/bin/env bash
# Installs the Debian packages the build needs; does nothing when all are present.
set -euo pipefail

packages=(
  build-essential cmake make pkg-config
  libboost-dev nlohmann-json3-dev libeigen3-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev ccache
  clang libclang-rt-14-dev
  pybind11-dev python3-pybind11 python3-dev python3-pytest python3-numpy
  python3-venv python3-setuptools python3-wheel python3-mypy
  doxygen
  libjs-dygraphs chromium chromium-driver python3-selenium
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
