#!/usr/bin/env bash
# The postinst and postrm against a recording udevadm: they call it only where udev runs
# (/run/udev exists), only for the actions that change the rules, and never fail because of it.
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
[ "$failures" -eq 0 ] && echo "maintainer scripts: ${#cases[@]} cases passed"
exit "$((failures > 0))"
