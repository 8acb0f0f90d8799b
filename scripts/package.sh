#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package in its own build tree (build-package/: the program and its plotting
# library, no tests) and leaves it in dist/: tq2604x-eval_VERSION_ARCH.deb, and its debug symbols
# in tq2604x-eval-dbgsym_VERSION_ARCH.ddeb.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
tq_ensure_packages "${tq_program_packages[@]}" "${tq_package_packages[@]}"
tq_configure_and_build build-package -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTQ_BUILD_TESTS=OFF \
  -DTQ_BUILD_BENCH=OFF -DTQ_BUILD_FUZZ=OFF -DTQ_SANITIZE=OFF
rm -rf dist
cpack --config build-package/CPackConfig.cmake -B "$PWD/dist" >/dev/null
rm -rf dist/_CPack_Packages
echo "The package is in dist/:"
ls -1 dist/*.deb dist/*.ddeb | sed 's/^/  /'
echo "Install it with: sudo apt-get install ./$(ls dist/*.deb)"
