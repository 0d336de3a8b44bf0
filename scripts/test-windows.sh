#!/usr/bin/env bash
# Runs the Windows build's tests under Wine against Linux peers:
#   test-windows.sh WINDOWS_BUILD LINUX_BUILD
# A fresh Wine prefix in WINDOWS_BUILD/wine-test; COM ports mapped to
# pseudo-terminals through HKLM\Software\Wine\Ports (read when the Wine server
# starts, so seeded before it starts for the tests):
#   COM20 echo peer, COM21 a peer that hangs up (an adapter pulled out),
#   COM22 kinetra-sim from LINUX_BUILD, listed as the Kinetra adapter,
#   COM23 an echo peer listed under a generic name, COM24 a peer listed as the
#   adapter that hangs up (the adapter lost), COM25 another such one for the
#   tool's tests, LPT7 a printer port entry.
# Every Wine process runs under a time-out; the Wine server and the peers are
# ended on exit.
set -euo pipefail
win=$(readlink -f "${1:?usage: test-windows.sh WINDOWS_BUILD LINUX_BUILD}")
linux=$(readlink -f "${2:?usage: test-windows.sh WINDOWS_BUILD LINUX_BUILD}")
here=$(cd "$(dirname "$0")" && pwd)
work=$win/wine-test
peer_seconds=600

rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64

pids=()
cleanup() {
  timeout 20 wineserver -k 2>/dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

python3 "$here/pty-peer.py" echo "$work/echo" --seconds $peer_seconds & pids+=($!)
python3 "$here/pty-peer.py" hangup "$work/hangup" --seconds $peer_seconds & pids+=($!)
python3 "$here/pty-peer.py" echo "$work/generic" --seconds $peer_seconds & pids+=($!)
python3 "$here/pty-peer.py" hangup "$work/lost" --seconds $peer_seconds & pids+=($!)
python3 "$here/pty-peer.py" hangup "$work/tool-lost" --seconds $peer_seconds & pids+=($!)
# The simulator reads console commands on stdin: keep it open, and idle.
mkfifo "$work/sim-stdin"
exec 3<>"$work/sim-stdin"
timeout $peer_seconds "$linux/kinetra-sim" --link "$work/adapter" <&3 >"$work/sim.log" 2>&1 & pids+=($!)
for link in echo hangup generic lost tool-lost adapter; do
  for _ in $(seq 100); do [ -e "$work/$link" ] && break; sleep 0.1; done
  [ -e "$work/$link" ] || { echo "no $work/$link"; cat "$work/sim.log"; exit 1; }
done

ports_class="{4d36e978-e325-11ce-bfc1-08002be10318}"
# seed NAME PORT FRIENDLY-NAME: a present device of the Ports class.
seed() {
  local key="HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\USB\\VID_0483&PID_5740\\$1"
  printf '[%s]\n"ClassGUID"="%s"\n"Class"="Ports"\n"FriendlyName"="%s"\n' "$key" "$ports_class" "$3"
  # HardwareID, a multi-string: "USB\VID_0483&PID_5740" and an empty end.
  printf '"HardwareID"=hex(7):%s00,00\n\n' "$(printf 'USB\\VID_0483&PID_5740' | od -An -tx1 -v | tr -s ' \n' ',' | sed 's/^,//')"
  printf '[%s\\Device Parameters]\n"PortName"="%s"\n\n' "$key" "$2"
}
{
  printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n'
  printf '"COM20"="%s"\n"COM21"="%s"\n"COM22"="%s"\n"COM23"="%s"\n"COM24"="%s"\n"COM25"="%s"\n\n' \
    "$work/echo" "$work/hangup" "$work/adapter" "$work/generic" "$work/lost" "$work/tool-lost"
  seed KIN0001 COM22 "Kinetra Zarvo USB-CAN Adapter (COM22)"
  seed GEN0001 COM23 "USB Serial Device (COM23)"
  seed KIN0002 COM24 "Kinetra Zarvo USB-CAN Adapter (COM24)"
  seed KIN0003 COM25 "Kinetra Zarvo USB-CAN Adapter (COM25)"
  seed LPT0001 LPT7 "Printer Port (LPT7)"
} > "$work/seed.reg"

timeout 120 wineboot -i >"$work/wineboot.log" 2>&1
timeout 60 wine regedit /S "$work/seed.reg"
# The port mapping is read when the server starts: restart it.
timeout 30 wineserver -k || true
timeout 30 wineserver -w || true
# The server and Wine's own background processes are started here, so that
# what they print goes to a log of their own and not into the output of
# whichever test would start them (the server answers a pty hang-up with a dump
# of its objects), and so that no test's output pipe is held open by them. The
# server ends itself 600 s after its last client at the latest.
wineserver -p600 >"$work/wineserver.log" 2>&1
timeout 60 wine cmd /c exit >>"$work/wineserver.log" 2>&1

export KINETRA_TEST_ECHO_PORT=COM20 KINETRA_TEST_HANGUP_PORT=COM21 KINETRA_TEST_ADAPTER_PORT=COM22 \
       KINETRA_TEST_GENERIC_PORT=COM23 KINETRA_TEST_LOST_PORT=COM24 KINETRA_TEST_TOOL_LOST_PORT=COM25 \
       KINETRA_TEST_PARALLEL_PORT=LPT7
timeout 300 ctest --test-dir "$win" --output-on-failure --verbose
