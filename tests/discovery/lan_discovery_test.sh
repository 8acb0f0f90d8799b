#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The server advertised on the LAN as LXI instruments are, found as lab software finds them:
# avahi-browse (and lxi discover -m where lxi-tools is installed). Everything runs in a network
# namespace of its own with a private /run: its loopback interface, with 10.9.0.1/24 and
# multicast, is the LAN; a dbus-daemon and an avahi-daemon of its own serve it. No packet leaves
# the namespace. Exit status 77 (skipped) names what the machine lacks.
set -uo pipefail
program="$1"
skip() { echo "SKIPPED: $*"; exit 77; }

if [ "${2:-}" != --inside ]; then
  # Inside a user namespace (unshare -r) avahi-daemon cannot give its runtime folder to the
  # avahi user, so the namespace is made by root itself.
  [ "$(id -u)" -eq 0 ] || skip "needs root to make a network namespace with a private /run"
  for tool in unshare ip dbus-daemon avahi-daemon avahi-browse; do
    command -v "$tool" >/dev/null ||
      skip "$tool is missing (scripts/deps.sh installs iproute2, dbus, avahi-daemon, avahi-utils)"
  done
  id avahi >/dev/null 2>&1 || skip "there is no avahi user (avahi-daemon is not installed)"
  why="$(unshare --net --mount true 2>&1)" ||
    skip "this machine cannot make a network namespace: $why"
  exec unshare --net --mount --propagation private bash "$0" "$program" --inside
fi

# ---- inside the namespace ----------------------------------------------------------------------
address=10.9.0.1
work="$(mktemp -d)"
pids=()
source "$(dirname "$0")/../support/headless_program.sh"
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

mount -t tmpfs -o mode=755 tmpfs /run || skip "cannot mount a private /run"
mkdir -p /run/dbus
ip link set lo up && ip link set lo multicast on && ip addr add "$address/24" dev lo ||
  skip "cannot configure the namespace's loopback interface"

cat >"$work/bus.conf" <<'CONF'
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=/run/dbus/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
cat >"$work/avahi.conf" <<'CONF'
[server]
host-name=tq-lan-test
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
[publish]
publish-hinfo=no
publish-workstation=no
CONF

start_avahi() {
  avahi-daemon --no-drop-root --no-chroot --no-rlimits -f "$work/avahi.conf" \
    >"$work/avahi.log" 2>&1 &
  avahi_pid=$!
  pids+=("$avahi_pid")
  wait_for "$work/avahi.log" "Server startup complete" ||
    fail "avahi-daemon did not start: $(cat "$work/avahi.log")"
}
stop_avahi() {
  kill "$avahi_pid"
  wait "$avahi_pid" 2>/dev/null
}

# browsed: the resolved services of TYPE (_scpi-raw._tcp), one line each, until PATTERN is among
# them.
browsed() {  # PATTERN [SECONDS [TYPE]]
  local tries=$((${2:-10}))
  for ((i = 0; i < tries; i++)); do
    timeout 10 avahi-browse -rpt "${3:-_scpi-raw._tcp}" 2>/dev/null | grep '^=' >"$work/browsed"
    grep -Eq -- "$1" "$work/browsed" && return 0
    sleep 0.5
  done
  return 1
}

version="$("$program" --version | sed -n '1s/^tq2604x-eval //p')"
name='TQ2604X\\032evaluation\\032board\\032SIMULATED'

# 1. No system bus at all: said once, and the server serves.
start nobus --listen "$address"
wait_for "$work/nobus.err" 'not advertised on the LAN' 5 ||
  fail "without a bus: nothing said: $(cat "$work/nobus.err")"
[ "$(count "$work/nobus.err" 'not advertised')" -eq 1 ] || fail "without a bus: not said once"
ask "$port_nobus" '*IDN?' | grep -q '^TQ2604X-EVAL,TQ2604X,SIMULATED,' ||
  fail "without a bus the server does not answer"
stop nobus

# 2. A bus without an Avahi daemon: said once; advertised once the daemon starts.
dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile >"$work/dbus.log" 2>&1 &
pids+=($!)
for ((i = 0; i < 50; i++)); do [ -S /run/dbus/system_bus_socket ] && break; sleep 0.1; done
start a --listen "$address"
wait_for "$work/a.err" 'not advertised on the LAN: no Avahi daemon is running' 5 ||
  fail "without a daemon: not said: $(cat "$work/a.err")"
ask "$port_a" '*IDN?' | grep -q '^TQ2604X-EVAL,' ||
  fail "without a daemon the server does not answer"
start_avahi
advertised="^advertised on the LAN as \"TQ2604X evaluation board SIMULATED\""
wait_for "$work/a.err" "$advertised \\(_scpi-raw._tcp, port $port_a\\)$" ||
  fail "not advertised once the daemon ran: $(cat "$work/a.err")"
browsed "^=;lo;IPv4;$name;_scpi-raw._tcp;local;tq-lan-test.local;$address;$port_a;" ||
  fail "avahi-browse does not list the board: $(cat "$work/browsed")"
for record in txtvers=1 Manufacturer=TQ2604X-EVAL Model=TQ2604X SerialNumber=SIMULATED \
  "FirmwareVersion=$version"; do
  grep "^=.*;$port_a;" "$work/browsed" | grep -q "\"$record\"" ||
    fail "the TXT records lack $record: $(cat "$work/browsed")"
done

# 3. A second board with the same name is renamed; --no-advertise and loopback are not advertised.
start b --listen "$address" --resolution 14
wait_for "$work/b.err" '^advertised on the LAN as "TQ2604X evaluation board SIMULATED #2"' ||
  fail "the second board was not renamed: $(cat "$work/b.err")"
start quiet --listen "$address" --no-advertise
start local
browsed "$name\\\\032\\\\0352;.*;$port_b;.*\"Model=TQ2404\"" ||
  fail "the second board is not listed as #2 with its model: $(cat "$work/browsed")"
[ "$(wc -l <"$work/browsed")" -eq 2 ] ||
  fail "expected the two boards alone: $(cat "$work/browsed")"
grep -q 'advertised' "$work/quiet.err" "$work/local.err" &&
  fail "--no-advertise or loopback said something of advertising"

# 4. The model follows a change of resolution.
[ "$(ask "$port_a" 'SYST:RES 14;SYST:RES?')" = 14 ] || fail "SYST:RES 14 was not taken"
browsed "^=;lo;IPv4;$name;.*;$port_a;.*\"Model=TQ2404\"" ||
  fail "the TXT record's model did not follow: $(cat "$work/browsed")"

# 5. The daemon restarts: both boards come back, and nothing more is said of a missing daemon.
stop_avahi
start_avahi
for board in a b; do
  for ((i = 0; i < 100; i++)); do
    [ "$(count "$work/$board.err" '^advertised on the LAN as')" -ge 2 ] && break
    sleep 0.1
  done
  [ "$(count "$work/$board.err" '^advertised on the LAN as')" -eq 2 ] ||
    fail "$board was not advertised again after the daemon restarted: $(cat "$work/$board.err")"
done
browsed "$name;.*;$port_a;" && browsed "\\\\0352;.*;$port_b;" ||
  fail "the boards are not listed after the daemon restarted: $(cat "$work/browsed")"
[ "$(count "$work/a.err" 'not advertised')" -eq 1 ] ||
  fail "the missing daemon was said more than once"

# 6. lxi discover -m, as LXI users look for instruments.
if command -v lxi >/dev/null; then
  timeout 20 lxi discover -m -t 3 >"$work/lxi.out" 2>&1
  grep -q "Found \"TQ2604X evaluation board SIMULATED\" on address $address" "$work/lxi.out" ||
    fail "lxi discover -m does not find the board: $(cat "$work/lxi.out")"
else
  echo "note: lxi-tools is not installed; lxi discover -m not tried"
fi

# 7. With the web page, it is advertised too: _http._tcp and _lxi._tcp on its port, same name.
start web --listen "$address" --http 0 && {
  wait_for "$work/web.err" '^web page on ' ||
    fail "the web page did not start: $(cat "$work/web.err")"
  port_page="$(sed -n 's#^web page on http://.*:\([0-9]*\)/$#\1#p' "$work/web.err")"
  wait_for "$work/web.err" "_http._tcp, port $port_page; _lxi._tcp, port $port_page\\)$" ||
    fail "the web page was not advertised: $(cat "$work/web.err")"
  browsed ";local;.*;$port_page;\"path=/\"" 10 _http._tcp ||
    fail "avahi-browse does not list the page: $(cat "$work/browsed")"
  browsed ";local;.*;$port_page;.*\"Manufacturer=TQ2604X-EVAL\"" 10 _lxi._tcp ||
    fail "avahi-browse does not list the LXI service: $(cat "$work/browsed")"
}

for name in a b quiet local web; do stop "$name"; done
[ "$failures" -eq 0 ] && echo "LAN discovery: 7 cases passed"
exit "$((failures > 0))"
