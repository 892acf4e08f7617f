#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer into
# ./build-asan and runs the whole test suite there: bash scripts/sanitize.sh
# [extra ctest arguments]. The program, its runtime library and the tests all
# come from that one build, so the dlopen'ed runtime is instrumented too.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="${TAMSIVO_ASAN_BUILD_DIR:-$repo/build-asan}"

bash "$repo/scripts/deps.sh"

cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAMSIVO_SANITIZE=ON -DTAMSIVO_BUILD_TESTS=ON -DTAMSIVO_BUILD_BENCH=OFF >/dev/null
cmake --build "$build"

# Leaks are not checked: Qt and the loaded runtime library keep allocations
# alive until exit, which a leak check would report as lost. Every other
# report stops the process that hit it. Reports go to files, so that one from
# a program a test starts (and whose output the test does not show) is not
# missed.
reports="$build/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
export ASAN_OPTIONS="detect_leaks=0:detect_stack_use_after_return=1:log_path=$reports/asan"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$reports/ubsan"
status=0
(cd "$build" && ctest --output-on-failure -j2 --timeout 900 "$@") || status=$?
if compgen -G "$reports/*" >/dev/null; then
  for report in "$reports"/*; do
    echo "== sanitizer report $report"
    head -n 60 "$report"
  done
  echo "sanitize: sanitizer reports were written (see $reports)"
  exit 1
fi
exit "$status"
