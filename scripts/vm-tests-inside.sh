#!/bin/sh
# Run by scripts/vm-test.sh inside the virtual machine, with vcan0 up and the
# programs in /tests: the SocketCAN transport and simulator tests, the tool on
# vcan0, and interop with can-utils. Prints a line per step; exits non-zero when
# any step failed.
failed=0
step() { echo "== $*"; }
check() {  # check WHAT COMMAND...: runs the command, reports and counts a failure
  what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failed=$((failed + 1)); fi
}

step "transport and simulator tests on vcan0"
# The tool's own tests (SocketCANTool) run outside, where the build tree is.
check "gtest SocketCAN*" timeout 120 kinetra_tests --gtest_filter='SocketCAN*:-SocketCANTool.*' --gtest_brief=1

step "the simulator on vcan0, seen by the tool and by can-utils"
kinetra-sim --socketcan vcan0 --driver 1 --actuator 2 --imu 3 --encoder 4 < /dev/null > /tmp/sim.log 2>&1 &
sim=$!
i=0
while ! grep -q '^socketcan: vcan0' /tmp/sim.log && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
check "kinetra-sim started on vcan0" grep -q '^socketcan: vcan0' /tmp/sim.log

timeout 30 kinetra scan --socketcan vcan0 > /tmp/scan.txt 2>&1
cat /tmp/scan.txt
check "scan finds the four nodes" sh -c 'for n in 1 2 3 4; do grep -qE "^ *$n\b" /tmp/scan.txt || exit 1; done'

timeout 5 candump -n 4 vcan0 > /tmp/candump.txt 2>&1
cat /tmp/candump.txt
check "candump sees the simulator's frames" test "$(wc -l < /tmp/candump.txt)" -ge 4

timeout 10 kinetra monitor --socketcan vcan0 --candump - --duration 3 > /tmp/monitor.txt 2>&1 &
monitor=$!
sleep 1
cansend vcan0 0001F401#11223344  # to node 1000, which is not on the bus
wait $monitor
check "monitor --candump shows the simulator's heartbeats" grep -q 'vcan0 08000101#' /tmp/monitor.txt
check "a frame from cansend reaches the library" grep -qi "0001F401#11223344" /tmp/monitor.txt
tail -5 /tmp/monitor.txt

if [ -x /tests/firmware_image ]; then
  firmware_image /tmp/image.hex 2.5.0 > /dev/null
  timeout 120 kinetra flash 1 /tmp/image.hex --socketcan vcan0 --no-backup > /tmp/flash.txt 2>&1
  tail -1 /tmp/flash.txt
  check "a firmware update of driver 1 over vcan0" grep -q 'now firmware 2.5.0' /tmp/flash.txt
fi

kill $sim
wait $sim

if [ -x /tests/socketcan_bench ]; then
  step "benchmark: vcan0 next to the pseudo-terminal in this machine"
  check "socketcan_bench ran" timeout 120 socketcan_bench
fi
echo "$failed step(s) failed"
[ $failed -eq 0 ]
