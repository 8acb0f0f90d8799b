#!/usr/bin/env bash
# scripts/deps.sh with packages missing: without root and without sudo it says what to do in
# one line and stops before apt-get; with sudo or as root it installs through apt-get.
set -euo pipefail
deps="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A PATH of the tools deps.sh uses, with stand-ins for id, dpkg-query, apt-get and sudo.
setup() {  # uid, with-sudo(yes|no)
  rm -rf "$work/bin"; mkdir "$work/bin"; : >"$work/log"
  for tool in bash grep basename cat; do ln -s "$(command -v "$tool")" "$work/bin/$tool"; done
  printf '#!/bin/sh\necho %s\n' "$1" >"$work/bin/id"
  printf '#!/bin/sh\nexit 1\n' >"$work/bin/dpkg-query"
  printf '#!/bin/sh\necho "apt-get $*" >>"%s/log"\n' "$work" >"$work/bin/apt-get"
  [ "$2" = yes ] && printf '#!/bin/sh\necho "sudo" >>"%s/log"\nexec "$@"\n' "$work" >"$work/bin/sudo"
  chmod +x "$work/bin/"*
}
ensure() {
  PATH="$work/bin" bash -c 'source "$1"; tq_ensure_packages cmake g++; echo "went on"' \
    run.sh "$deps" >"$work/out" 2>"$work/err"
}

setup 1000 no
status=0; ensure || status=$?
[ "$status" -eq 1 ] || fail "without sudo: status $status, expected 1"
[ "$(wc -l <"$work/err")" -eq 1 ] || fail "without sudo: expected one line, got: $(cat "$work/err")"
grep -q '^run.sh: .*cmake g++.*run it as root, or install sudo' "$work/err" ||
  fail "without sudo: the line does not name the packages and what to do: $(cat "$work/err")"
grep -q 'went on' "$work/out" && fail "without sudo: the script went on"
[ -s "$work/log" ] && fail "without sudo: apt-get ran: $(cat "$work/log")"

setup 1000 yes
ensure || fail "with sudo: failed: $(cat "$work/err")"
grep -q '^sudo$' "$work/log" || fail "with sudo: sudo was not used"
grep -q 'apt-get install .*cmake g++' "$work/log" || fail "with sudo: nothing installed"

setup 0 no
ensure || fail "as root: failed: $(cat "$work/err")"
grep -q 'apt-get install .*cmake g++' "$work/log" || fail "as root: nothing installed"
grep -q 'went on' "$work/out" || fail "as root: the script stopped"

[ "$failures" -eq 0 ] && echo "deps.sh: 3 cases passed"
exit "$((failures > 0))"
