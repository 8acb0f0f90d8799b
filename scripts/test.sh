#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the program and runs every test. Installs what is missing on a Debian 12 machine.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
tq_ensure_packages "${tq_program_packages[@]}" "${tq_test_packages[@]}"
# Explicit options: the run command may have configured the same tree without the tests.
tq_configure_and_build build -DTQ_BUILD_TESTS=ON -DTQ_BUILD_BENCH=ON -DTQ_SANITIZE=OFF
# The fuzz targets (clang, a tree of their own) build at the lowest priority while the suite runs,
# in the time its tests leave the cores idle (waiting on sockets, timers and browsers).
fuzz_log="$(mktemp)"
nice -n 19 scripts/fuzz.sh build >"$fuzz_log" 2>&1 &
fuzz_build=$!
stop_tree() {
  local child
  for child in $(pgrep -P "$1"); do stop_tree "$child"; done
  kill "$1" 2>/dev/null || true
}
trap 'stop_tree "$fuzz_build"; rm -f "$fuzz_log"' EXIT
ctest --test-dir build --output-on-failure -j "$(nproc)" --timeout 300
wait "$fuzz_build" || { cat "$fuzz_log"; echo "the fuzz targets did not build"; exit 1; }
scripts/fuzz.sh "${TQ_FUZZ_SECONDS:-10}"
