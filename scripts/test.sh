#!/usr/bin/env bash
# Installs the dependencies, builds, and runs every test. Tests that need a
# real X server start their own Xvfb; the rest use Qt's offscreen platform.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh run build test
bash scripts/build.sh -DTAMSIVO_BUILD_TESTS=ON -DTAMSIVO_BUILD_BENCH=ON
cd build
ctest --output-on-failure -j2 --timeout 600
cd ..
# A short fuzz pass over every target (clang build in build-fuzz/).
bash scripts/fuzz.sh 10
