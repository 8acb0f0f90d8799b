#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets with clang and runs each for a bounded time from the seed corpus
# kept in tests/fuzz/corpus. Seconds per target: first argument (default 20).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
tq_ensure_packages "${tq_program_packages[@]}" "${tq_test_packages[@]}"
seconds="${1:-20}"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DTQ_BUILD_TESTS=OFF -DTQ_BUILD_BENCH=OFF \
  -DTQ_BUILD_FUZZ=ON >/dev/null
targets=(parse_number parse_hex intel_hex console scpi_grammar setup vxi11)
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]/#/fuzz_}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
for t in "${targets[@]}"; do
  mkdir -p "$work/$t"
  echo "fuzz_$t: ${seconds} s"
  # A crash leaves its input as crash-* in the work folder and fails the run.
  # The console target runs Qt: leaks inside the system's font libraries are not ours to report.
  leaks=1
  [ "$t" = console ] && leaks=0
  (cd "$work" && ASAN_OPTIONS="detect_leaks=$leaks" \
     "$OLDPWD/build-fuzz/tests/fuzz/fuzz_$t" -detect_leaks=$leaks -max_total_time="$seconds" -max_len=4096 \
     -rss_limit_mb=2048 -print_final_stats=0 "$work/$t" "$OLDPWD/tests/fuzz/corpus/$t" \
     >"$work/$t.log" 2>&1) || { tail -n 40 "$work/$t.log"; echo "fuzz_$t found a crash"; exit 1; }
done
echo "fuzzing: no crash"
