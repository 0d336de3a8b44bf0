#!/usr/bin/env bash
# Debian packages for the Windows cross build and its tests under Wine, beyond
# scripts/install-deps.sh (whose Boost, JSON, Eigen and GoogleTest sources the
# cross build reuses: the first three are header-only, and GoogleTest is built
# from /usr/src/googletest for the target).
set -euo pipefail
packages=(g++-mingw-w64-x86-64-posix wine64 wine googletest python3)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
