#!/usr/bin/env bash
# Fails when the shared library exports more than its public API: any Boost
# symbol, or a symbol naming a class or namespace that only the library's sources
# declare (or that a public header keeps local with KINETRA_LOCAL).
# Usage: check-exports.sh LIBRARY.so SOURCE_DIR
set -euo pipefail
lib=$1
root=$2

declared() {  # the class, struct and namespace names declared under the given dirs
  grep -rhoE '^\s*(class|struct|namespace) +(KINETRA_[A-Z]+ +)?[A-Za-z_][A-Za-z0-9_:]*' "$@" \
    | awk '{print $NF}' | tr ':' '\n' | grep -v '^$' | sort -u
}
public=$(declared "$root/include")
internal=$( (comm -23 <(declared "$root/src") <(echo "$public");
             grep -rhoE 'KINETRA_LOCAL +[A-Za-z_][A-Za-z0-9_]*' "$root/include" | awk '{print $2}') | sort -u)

symbols=$(nm -D --defined-only "$lib" | awk '{print $3}' | c++filt)
[ -n "$symbols" ] || { echo "no exported symbols in $lib"; exit 1; }

bad=$(awk -v names="$(echo "$internal" | tr '\n' ' ')" '
  BEGIN { n = split(names, list, " "); for (i = 1; i <= n; i++) internal[list[i]] = 1 }
  {
    sym = $0
    if (sym ~ /boost::/) { print "boost: " sym; next }
    sub(/^(typeinfo name for|typeinfo for|vtable for|VTT for|construction vtable for|guard variable for) /, "", sym)
    name = sym; sub(/\(.*/, "", name)   # the qualified name, not the parameters
    rest = name
    while (match(rest, /[A-Za-z_][A-Za-z0-9_]*/)) {
      word = substr(rest, RSTART, RLENGTH); rest = substr(rest, RSTART + RLENGTH)
      if (word in internal) { print "internal (" word "): " $0; next }
    }
  }' <<<"$symbols")

if [ -n "$bad" ]; then
  echo "$lib exports symbols outside the public API:"
  echo "$bad" | head -50
  echo "($(echo "$bad" | wc -l) in all)"
  exit 1
fi
echo "$(echo "$symbols" | wc -l) exported symbols, all public"
