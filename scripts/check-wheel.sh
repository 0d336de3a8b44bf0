#!/usr/bin/env bash
# Builds the wheel from a built tree (no second compile), installs it into a fresh
# virtual environment of Debian's interpreter, and uses it as a user would: the
# import, the two programs on the environment's PATH, python -m kinetra, and the
# Python tests and the type check against the installed package (no build tree
# or source package on the path).
# Usage: check-wheel.sh [BUILD_DIR]; FROM_SCRATCH=1 builds instead from a fresh clone
# of the committed tree, configuring its own CMake tree (minutes without ccache).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(readlink -f "${1:-build}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python=/usr/bin/python3

echo "== the wheel"
$python -m venv --system-site-packages "$work/env"
source=.
if [ -n "${FROM_SCRATCH:-}" ]; then
  git clone -q . "$work/clone"
  source=$work/clone
else
  export KINETRA_CMAKE_BUILD=$build
fi
start=$(date +%s)
"$work/env/bin/pip" wheel --no-index --no-build-isolation --no-deps -w "$work/dist" "$source" > "$work/wheel.log" 2>&1 \
  || { cat "$work/wheel.log"; exit 1; }
wheel=$(ls "$work"/dist/kinetra-*.whl)
echo "$(basename "$wheel"): $(du -k "$wheel" | cut -f1) KiB in $(( $(date +%s) - start )) s"

echo "== installed into a fresh environment"
"$work/env/bin/pip" install --no-index --no-deps -q "$wheel"
cd "$work"
export PATH=$work/env/bin:$PATH
unset PYTHONPATH
python -c "
import kinetra, sys
assert kinetra.__file__.startswith(sys.prefix), kinetra.__file__
print('import kinetra:', kinetra.__file__)"
python -m kinetra --help | head -1
kinetra-sim --help 2>&1 | head -1
kinetra scan --sim > /dev/null

echo "== the Python tests against the installed package"
tests=$OLDPWD/python/tests
PYTHONDONTWRITEBYTECODE=1 python -m pytest -q -p no:cacheprovider --rootdir "$work" "$tests"
echo "wheel checked"
