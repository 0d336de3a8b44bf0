#!/usr/bin/env bash
# Installs a built tree into a temporary prefix and uses it as another project
# would: every installed header compiles on its own without the source tree or a
# dependency's headers, examples/consumer builds with find_package and with
# pkg-config and runs against the installed simulator (in-process and as the
# installed kinetra-sim program), and the installed Python package imports, with
# its type stub, and runs the installed tool.
# Usage: check-install.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
prefix=$work/prefix

echo "== install into a temporary prefix"
cmake --install "$build" --prefix "$prefix" > "$work/install.log"
test -x "$prefix/bin/kinetra" && test -x "$prefix/bin/kinetra-sim"
export PKG_CONFIG_PATH
PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name kinetra_transport.pc | head -1)")
libdir=$(pkg-config --variable=libdir kinetra_transport)

echo "== installed headers compile on their own"
headers=$(cd "$prefix/include" && find kinetra kinetra_sim -name '*.h' | sort)
for header in $headers; do
  echo "#include <$header>" > "$work/one.cpp"
  if ! g++ -std=c++17 -Wall -Wextra -Wpedantic -Werror -fsyntax-only -I"$prefix/include" \
      -M -MF "$work/deps" "$work/one.cpp" -o /dev/null; then
    echo "$header does not compile on its own"; exit 1
  fi
  if grep -qE '/(boost|eigen3|nlohmann|pybind11|src)/' "$work/deps"; then
    echo "$header reaches beyond the standard library:"; grep -oE '[^ ]*/(boost|eigen3|nlohmann|pybind11|src)/[^ ]*' "$work/deps" | head -3
    exit 1
  fi
done
echo "$(echo "$headers" | wc -l) headers"

echo "== examples/consumer with find_package"
cmake -S examples/consumer -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" > "$work/consumer.log"
cmake --build "$work/cmake" >> "$work/consumer.log"
"$work/cmake/consumer"

echo "== examples/consumer with pkg-config"
make -s -C examples/consumer OUT="$work/consumer-pc"
"$work/consumer-pc"

echo "== the README's first example, without an adapter"
sed -n '/^## Using the library/,/^## /p' README.md | sed -n '/^```cpp/,/^```/p' | sed '1d;$d' > "$work/readme.cpp"
g++ -std=c++17 -Wall -Wextra -Wpedantic -Werror -o "$work/readme" "$work/readme.cpp" \
  $(pkg-config --cflags --libs kinetra_transport) -Wl,-rpath,"$libdir"
status=0
"$work/readme" > "$work/readme.log" 2>&1 || status=$?
# 0 with an adapter on /dev/ttyACM0, 1 without; anything else is a crash.
if [ "$status" -gt 1 ]; then echo "the README example ended with status $status:"; cat "$work/readme.log"; exit 1; fi
echo "exit status $status: $(tail -1 "$work/readme.log")"

echo "== against the installed kinetra-sim"
"$prefix/bin/kinetra-sim" --driver 1 --link "$work/port" < /dev/null > "$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -e "$work/port" ] && break; sleep 0.1; done
[ -e "$work/port" ] || { echo "kinetra-sim did not start"; cat "$work/sim.log"; exit 1; }
"$work/consumer-pc" "$work/port"

echo "== the installed Python package"
module=$(find "$prefix" -path '*dist-packages/kinetra/_core*.so' | head -1)
if [ -n "$module" ]; then
  package=$(dirname "$module")
  test -f "$package/__init__.pyi" && test -f "$package/py.typed"
  PYTHONPATH=$(dirname "$package") /usr/bin/python3 -c "
import kinetra, sys
assert kinetra.__file__.startswith(sys.argv[1]), kinetra.__file__
kinetra.Simulator({1: kinetra.DeviceType.Driver}).close()
print('import kinetra:', kinetra.__file__)" "$prefix"
  # The package runs the installed tool from PREFIX/bin.
  PYTHONPATH=$(dirname "$package") /usr/bin/python3 -m kinetra --help | head -1
else
  echo "no Python module was built; skipped"
fi
echo "install checked"
