#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a command in a network namespace of its own, with a private /run, its loopback interface up
# and a portmapper (rpcbind) of its own: what PyVISA's TCPIP::127.0.0.1::INSTR needs, without
# touching the computer's network or portmapper. Needs root, unshare, ip and rpcbind; exit status
# 77 names what is missing.
#
#     bench/in_namespace.sh /usr/bin/python3 bench/vxi11_bench.py compare build/app/tq2604x-eval
set -uo pipefail
skip() { echo "SKIPPED: $*" >&2; exit 77; }

if [ "${1:-}" != --inside ]; then
  [ "$(id -u)" -eq 0 ] || skip "needs root to make a network namespace with a private /run"
  for tool in unshare ip rpcbind; do
    command -v "$tool" >/dev/null ||
      skip "$tool is missing (scripts/deps.sh installs util-linux, iproute2, rpcbind)"
  done
  /usr/bin/python3 -c 'import pyvisa, pyvisa_py' 2>/dev/null ||
    skip "PyVISA is missing (python3-pyvisa, python3-pyvisa-py)"
  why="$(unshare --net --mount true 2>&1)" || skip "this machine cannot make a network namespace: $why"
  exec unshare --net --mount --propagation private bash "$0" --inside "$@"
fi
shift

mount -t tmpfs -o mode=755 tmpfs /run || skip "cannot mount a private /run"
ip link set lo up || skip "cannot bring up the namespace's loopback interface"
log="$(mktemp)"
rpcbind -f >"$log" 2>&1 &
rpcbind_pid=$!
trap 'kill "$rpcbind_pid" 2>/dev/null; wait "$rpcbind_pid" 2>/dev/null; rm -f "$log"' EXIT
for ((i = 0; i < 50; i++)); do [ -S /run/rpcbind.sock ] && break; sleep 0.1; done
[ -S /run/rpcbind.sock ] || { echo "rpcbind did not start: $(cat "$log")" >&2; exit 1; }
"$@"
