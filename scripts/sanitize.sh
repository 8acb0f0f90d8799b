#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and runs the whole test
# suite on that build.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
tq_ensure_packages "${tq_program_packages[@]}" "${tq_test_packages[@]}"
tq_configure_and_build build-asan -DTQ_SANITIZE=ON -DTQ_BUILD_BENCH=OFF
# Qt keeps some allocations until the process ends; those are not ours to report.
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir build-asan --output-on-failure -j "$(nproc)" --timeout 600
