#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the program and runs every test. Installs what is missing on a Debian 12 machine.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
tq_ensure_packages "${tq_program_packages[@]}" "${tq_test_packages[@]}"
# Explicit options: the run command may have configured the same tree without the tests.
tq_configure_and_build build -DTQ_BUILD_TESTS=ON -DTQ_BUILD_BENCH=ON -DTQ_SANITIZE=OFF
ctest --test-dir build --output-on-failure -j "$(nproc)" --timeout 300
scripts/fuzz.sh "${TQ_FUZZ_SECONDS:-20}"
