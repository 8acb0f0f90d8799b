#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets with clang and runs each for a bounded time from the seed corpus
# kept in tests/fuzz/corpus. Seconds per target: first argument (default 20); "build" only builds.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
tq_ensure_packages "${tq_program_packages[@]}" "${tq_test_packages[@]}"
seconds="${1:-20}"
# OSS-Fuzz's flags: light optimisation and line tables, enough for a crash's stack to name its
# lines, and quicker to compile than the program's own -O2 -g.
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DTQ_BUILD_TESTS=OFF -DTQ_BUILD_BENCH=OFF \
  -DTQ_BUILD_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only -DNDEBUG" \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only -DNDEBUG" >/dev/null
targets=(parse_number parse_hex intel_hex console scpi_grammar setup vxi11)
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]/#/fuzz_}"
[ "$seconds" = build ] && exit 0
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# One target per core at a time; each keeps its whole time.
jobs="$(nproc)"
fuzz_one() {
  local t="$1" leaks=1
  mkdir -p "$work/$t" "$work/$t-run"
  # The console target runs Qt: leaks inside the system's font libraries are not ours to report.
  [ "$t" = console ] && leaks=0
  # A crash leaves its input as crash-* in the target's run folder and fails the run.
  (cd "$work/$t-run" && ASAN_OPTIONS="detect_leaks=$leaks" \
     "$root/build-fuzz/tests/fuzz/fuzz_$t" -detect_leaks=$leaks -max_total_time="$seconds" \
     -max_len=4096 -rss_limit_mb=2048 -print_final_stats=0 "$work/$t" "$root/tests/fuzz/corpus/$t" \
     >"$work/$t.log" 2>&1)
}
root="$PWD"
declare -A pids
failed=()
for t in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  echo "fuzz_$t: ${seconds} s"
  fuzz_one "$t" &
  pids[$t]=$!
done
for t in "${targets[@]}"; do
  wait "${pids[$t]}" || failed+=("$t")
done
for t in "${failed[@]}"; do
  tail -n 40 "$work/$t.log"
  echo "fuzz_$t found a crash"
done
[ ${#failed[@]} -eq 0 ] || exit 1
echo "fuzzing: no crash"
