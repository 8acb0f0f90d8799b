#!/usr/bin/env bash
# Builds the program and starts it on the simulated board. Extra arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
tq_ensure_packages
tq_configure_and_build build -DTQ_BUILD_TESTS=OFF -DTQ_BUILD_BENCH=OFF
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "There is no display to show the window on." >&2
  echo "Run it under a virtual display instead:  xvfb-run -a build/app/tq2604x-eval --simulate" >&2
  exit 1
fi
exec build/app/tq2604x-eval --simulate "$@"
