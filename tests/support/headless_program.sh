# SPDX-License-Identifier: GPL-3.0-or-later
# What the shell tests of the headless program share, sourced after they have set $program (the
# program), $work (a folder of their own) and the array pids (what to end on exit). A failure is
# counted in $failures and said; `address` is where ask() connects (default: loopback).

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# wait_for FILE PATTERN [SECONDS]: until a line of FILE matches (grep -E), at most SECONDS.
wait_for() {
  local tries=$((${3:-10} * 10))
  for ((i = 0; i < tries; i++)); do
    grep -Eq -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}
# count FILE PATTERN: how many lines of FILE match (grep -E).
count() { grep -Ec -- "$2" "$1"; }
# wait_count FILE PATTERN N [SECONDS]: until N lines of FILE match, at most SECONDS.
wait_count() {
  local tries=$((${4:-10} * 10))
  for ((i = 0; i < tries; i++)); do
    [ "$(count "$1" "$2")" -ge "$3" ] && return 0
    sleep 0.1
  done
  return 1
}

# start NAME ARGS...: the headless program on the simulated board with a settings folder of its
# own; its process in pid_NAME, its port in port_NAME, its standard error in $work/NAME.err.
start() {
  local name="$1"; shift
  mkdir -p "$work/$name.config"
  XDG_CONFIG_HOME="$work/$name.config" "$program" --simulate --headless --scpi 0 "$@" \
    </dev/null >/dev/null 2>"$work/$name.err" &
  local pid=$!
  pids+=("$pid")
  eval "pid_$name=$pid"
  if ! wait_for "$work/$name.err" '^listening on '; then
    fail "$name did not start: $(cat "$work/$name.err")"
    return 1
  fi
  eval "port_$name=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$work/$name.err")"
}
# stop NAME: SIGTERM, and it must end with status 0.
stop() {
  local pid; pid="$(eval echo "\$pid_$1")"
  kill -TERM "$pid"
  wait "$pid"; local status=$?
  [ "$status" -eq 0 ] || fail "$1 ended with status $status: $(cat "$work/$1.err")"
}
# ask PORT LINE: one line to the raw socket, its answer printed.
ask() {
  exec 3<>"/dev/tcp/${address:-127.0.0.1}/$1" || return 1
  printf '%s\n' "$2" >&3
  local answer=""
  read -r -t 5 answer <&3
  exec 3<&-
  printf '%s\n' "${answer%$'\r'}"
}
