#!/usr/bin/env bash
# The maintainer scripts against a recording udevadm, py3compile and py3clean: udevadm only where
# udev runs (/run/udev exists), only for the actions that change the rules, and never failing
# because of it; the Python driver compiled on configure and its caches removed before removal.
set -euo pipefail
debian="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
failures=0

# script action udev(yes|no) udevadm-status expected calls (joined with ';')
cases=(
  "postinst configure yes 0 control --reload-rules;trigger --subsystem-match=usb --attr-match=idVendor=0456"
  "postinst configure no 0 "
  "postinst configure yes 1 control --reload-rules;trigger --subsystem-match=usb --attr-match=idVendor=0456"
  "postinst abort-upgrade yes 0 "
  "postrm remove yes 0 control --reload-rules"
  "postrm remove no 0 "
  "postrm remove yes 1 control --reload-rules"
  "postrm purge yes 0 "
)
# script action expected Python tool calls
python_cases=(
  "postinst configure py3compile -p tq2604x-eval"
  "postinst abort-upgrade "
  "prerm remove py3clean -p tq2604x-eval"
  "prerm upgrade py3clean -p tq2604x-eval"
)
for tool in py3compile py3clean; do
  printf '#!/bin/sh\necho "%s $*" >>"%s/python-calls"\n' "$tool" "$work" >"$work/bin/$tool"
  chmod +x "$work/bin/$tool"
done
for c in "${cases[@]}"; do
  read -r script action udev status expected <<<"$c" || true
  # The scripts' one look at /run/udev goes to a folder of the test's.
  if [ "$(grep -c -- '-d /run/udev' "$debian/$script")" -ne 1 ]; then
    echo "FAIL: $script should test -d /run/udev exactly once"; failures=$((failures + 1)); continue
  fi
  sed "s|-d /run/udev|-d $work/run-udev|" "$debian/$script" >"$work/$script"
  rm -rf "$work/run-udev"
  [ "$udev" = yes ] && mkdir "$work/run-udev"
  printf '#!/bin/sh\necho "$*" >>"%s/calls"\nexit %s\n' "$work" "$status" >"$work/bin/udevadm"
  chmod +x "$work/bin/udevadm"
  : >"$work/calls"
  if ! PATH="$work/bin:$PATH" sh "$work/$script" "$action" >"$work/out" 2>&1; then
    echo "FAIL: $script $action (udev $udev, udevadm status $status) failed: $(cat "$work/out")"
    failures=$((failures + 1)); continue
  fi
  calls="$(paste -sd ';' "$work/calls")"
  if [ "$calls" != "$expected" ]; then
    echo "FAIL: $script $action (udev $udev): called udevadm [$calls], expected [$expected]"
    failures=$((failures + 1))
  fi
done
for c in "${python_cases[@]}"; do
  read -r script action expected <<<"$c" || true
  : >"$work/python-calls"
  printf '#!/bin/sh\nexit 0\n' >"$work/bin/udevadm"
  if ! PATH="$work/bin:$PATH" sh "$debian/$script" "$action" >"$work/out" 2>&1; then
    echo "FAIL: $script $action failed: $(cat "$work/out")"; failures=$((failures + 1)); continue
  fi
  calls="$(paste -sd ';' "$work/python-calls")"
  if [ "$calls" != "$expected" ]; then
    echo "FAIL: $script $action: called [$calls], expected [$expected]"; failures=$((failures + 1))
  fi
done
[ "$failures" -eq 0 ] && echo "maintainer scripts: $((${#cases[@]} + ${#python_cases[@]})) cases passed"
exit "$((failures > 0))"
