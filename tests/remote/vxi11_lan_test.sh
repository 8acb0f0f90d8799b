#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# VXI-11 as lab software meets it: PyVISA's TCPIP::127.0.0.1::INSTR through the portmapper (its
# lock keeping another link and a raw client off; the Python driver given a bare host),
# `lxi discover` by broadcast and `lxi scpi` without -r from another computer, a second program
# that finds VXI-11 taken, a portmapper that starts late, and the registration withdrawn at the
# end (or taken over when its program was killed). Everything runs in a network namespace of its
# own with a private /run: the board's computer has rpcbind of its own and the end tq0 of a veth
# pair (10.9.1.1/24); the lab computer is a second namespace with the end tq1 (10.9.1.2/24). No
# packet leaves them. Exit status 77 (skipped) names what the machine lacks.
set -uo pipefail
program="$1"
visa_check="$(dirname "$0")/vxi11_visa_check.py"
skip() { echo "SKIPPED: $*"; exit 77; }

if [ "${2:-}" != --inside ]; then
  # rpcbind keeps its socket and lock in /run, so the namespace needs a /run of its own.
  [ "$(id -u)" -eq 0 ] || skip "needs root to make a network namespace with a private /run"
  for tool in unshare nsenter ip rpcbind rpcinfo lxi; do
    command -v "$tool" >/dev/null ||
      skip "$tool is missing (scripts/deps.sh installs util-linux, iproute2, rpcbind, lxi-tools)"
  done
  /usr/bin/python3 -c 'import pyvisa, pyvisa_py' 2>/dev/null ||
    skip "PyVISA is missing (python3-pyvisa, python3-pyvisa-py)"
  why="$(unshare --net --mount true 2>&1)" ||
    skip "this machine cannot make a network namespace: $why"
  exec unshare --net --mount --propagation private bash "$0" "$program" --inside
fi

# ---- inside the board's namespace ---------------------------------------------------------------
board=10.9.1.1
lab=10.9.1.2
work="$(mktemp -d)"
pids=()
source "$(dirname "$0")/../support/headless_program.sh"
cleanup() {
  for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

mount -t tmpfs -o mode=755 tmpfs /run || skip "cannot mount a private /run"
ip link set lo up || skip "cannot bring up the namespace's loopback interface"
# The lab computer: a namespace of its own, holding the other end of the cable.
unshare --net sleep 600 &
lab_pid=$!
pids+=("$lab_pid")
sleep 0.2
ip link add tq0 type veth peer name tq1 && ip link set tq1 netns "$lab_pid" &&
  ip addr add "$board/24" broadcast 10.9.1.255 dev tq0 && ip link set tq0 up ||
  skip "cannot make a veth pair"
on_lab() { nsenter --net="/proc/$lab_pid/ns/net" "$@"; }
on_lab ip link set lo up && on_lab ip addr add "$lab/24" broadcast 10.9.1.255 dev tq1 &&
  on_lab ip link set tq1 up || skip "cannot configure the lab computer's end"

start_rpcbind() {
  rpcbind -f >"$work/rpcbind.log" 2>&1 &
  rpcbind_pid=$!
  pids+=("$rpcbind_pid")
  for ((i = 0; i < 50; i++)); do [ -S /run/rpcbind.sock ] && return 0; sleep 0.1; done
  fail "rpcbind did not start: $(cat "$work/rpcbind.log")"
}
stop_rpcbind() {
  kill "$rpcbind_pid"
  wait "$rpcbind_pid" 2>/dev/null
  rm -f /run/rpcbind.sock /run/rpcbind.lock
}

# Every program listens on every address, as a board on the LAN does.
start_board() { local name="$1"; shift; start "$name" --listen 0.0.0.0 --no-advertise "$@"; }
registered_port() { rpcinfo -p 2>/dev/null | awk '$1 == 395183 && $3 == "tcp" { print $4 }'; }
registered='^VXI-11 on port [0-9]+, registered with the portmapper$'

# 1. No portmapper: said once, after the listening line; the raw socket serves. Once rpcbind
# starts, the program registers within its next look.
start_board a
wait_for "$work/a.err" 'VXI-11 cannot be found by VISA yet: no portmapper \(rpcbind\) is running' 5 ||
  fail "without a portmapper nothing was said: $(cat "$work/a.err")"
listening_line="$(grep -n '^listening on ' "$work/a.err" | cut -d: -f1)"
said_line="$(grep -n 'cannot be found by VISA' "$work/a.err" | cut -d: -f1)"
[ "${listening_line:-0}" -lt "${said_line:-0}" ] ||
  fail "the missing portmapper is not said after the listening line: $(cat "$work/a.err")"
ask "$port_a" '*IDN?' | grep -q '^TQ2604X-EVAL,TQ2604X,SIMULATED,' ||
  fail "without a portmapper the raw socket does not answer"
start_rpcbind
wait_for "$work/a.err" "$registered" 10 ||
  fail "not registered once rpcbind ran: $(cat "$work/a.err")"
[ "$(count "$work/a.err" 'cannot be found by VISA')" -eq 1 ] || fail "the missing portmapper was said more than once"
vxi_a="$(registered_port)"
grep -q "^VXI-11 on port $vxi_a," "$work/a.err" ||
  fail "rpcinfo -p shows port '$vxi_a', not the program's: $(rpcinfo -p)"

# 2. PyVISA through the portmapper: writes and queries, the status byte, trigger, device clear.
/usr/bin/python3 "$visa_check" 127.0.0.1 "$port_a" >"$work/visa.out" 2>&1 ||
  fail "PyVISA over VXI-11: $(cat "$work/visa.out")"

# 3. A second program on the same computer: VXI-11 is taken, its raw socket serves.
start_board b --resolution 14
wait_for "$work/b.err" "VXI-11 is served by another program on this computer \\(port $vxi_a\\): this one serves its raw socket only" 5 ||
  fail "the second program did not say VXI-11 is taken: $(cat "$work/b.err")"
[ "$(ask "$port_b" '*IDN?' | cut -d, -f2)" = TQ2404 ] || fail "the second program's raw socket does not answer"
[ "$(registered_port)" = "$vxi_a" ] || fail "the second program took the registration"

# 4. From the lab computer: lxi discover finds the board by broadcast and asks its identity over
# VXI-11; lxi scpi talks VXI-11 without -r.
on_lab timeout 30 lxi discover -t 2 >"$work/discover.out" 2>&1
grep -q "Found \"TQ2604X-EVAL,TQ2604X,SIMULATED,.*\" on address $board" "$work/discover.out" ||
  fail "lxi discover does not find the board: $(cat "$work/discover.out")"
[ "$(grep -c '  Found "' "$work/discover.out")" -eq 1 ] ||
  fail "lxi discover lists more than the board: $(cat "$work/discover.out")"
on_lab timeout 20 lxi scpi -a "$board" '*IDN?' >"$work/scpi.out" 2>&1
grep -q '^TQ2604X-EVAL,TQ2604X,SIMULATED,' "$work/scpi.out" ||
  fail "lxi scpi -a $board does not answer over VXI-11: $(cat "$work/scpi.out")"
on_lab timeout 20 lxi scpi -a "$board" 'SOUR3:DATA 4321' >/dev/null 2>&1
[ "$(ask "$port_a" 'SOUR3:DATA?')" = 4321 ] || fail "lxi scpi's write did not reach the board"

# 5. The end withdraws the registration; the second program, which gave VXI-11 up, stays out.
stop a
[ -z "$(registered_port)" ] || fail "the registration outlived the program: $(rpcinfo -p)"
stop b

# 6. A program killed outright leaves its registration behind; the next one takes it over.
start_board c
wait_for "$work/c.err" "$registered" 5 || fail "c was not registered: $(cat "$work/c.err")"
kill -KILL "$pid_c"; wait "$pid_c" 2>/dev/null
[ -n "$(registered_port)" ] || fail "the killed program's registration is not there to take over"
start_board d
wait_for "$work/d.err" "$registered" 5 ||
  fail "the stale registration was not taken over: $(cat "$work/d.err")"
[ "$(registered_port)" = "$(sed -n 's/^VXI-11 on port \([0-9]*\),.*/\1/p' "$work/d.err")" ] ||
  fail "rpcinfo does not show d's port: $(rpcinfo -p)"

# 7. A portmapper that restarts has forgotten the program: it registers again at its next look.
stop_rpcbind
start_rpcbind
wait_count "$work/d.err" "$registered" 2 15 ||
  fail "not registered again after rpcbind restarted: $(cat "$work/d.err")"
[ -n "$(registered_port)" ] || fail "rpcinfo does not list VXI-11 after the restart"

# 8. --no-vxi11: the raw socket only, nothing registered, nothing said of VXI-11.
stop d
start_board e --no-vxi11
[ "$(ask "$port_e" '*OPC?')" = 1 ] || fail "--no-vxi11: the raw socket does not answer"
sleep 1
[ -z "$(registered_port)" ] || fail "--no-vxi11 registered VXI-11"
grep -q 'VXI-11' "$work/e.err" && fail "--no-vxi11 said something of VXI-11: $(cat "$work/e.err")"
stop e

[ "$failures" -eq 0 ] && echo "VXI-11 on the LAN: 8 cases passed"
exit "$((failures > 0))"
