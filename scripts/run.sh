#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the program and starts it on the simulated board. Extra arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
tq_ensure_packages "${tq_program_packages[@]}"
tq_configure_and_build build -DTQ_BUILD_TESTS=OFF -DTQ_BUILD_BENCH=OFF
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  cat >&2 <<'TEXT'
There is no display to show the windows on. Without one, either
  serve the simulated board as an instrument (PyVISA: TCPIP::127.0.0.1::5025::SOCKET; Ctrl+C ends it):
    build/app/tq2604x-eval --simulate --headless --scpi 5025
  or save a picture of the main window to main-window.png:
    printf 'grab MainForm main-window.png\nquit\n' | QT_QPA_PLATFORM=offscreen build/app/tq2604x-eval --simulate --automation
TEXT
  exit 1
fi
exec build/app/tq2604x-eval --simulate "$@"
