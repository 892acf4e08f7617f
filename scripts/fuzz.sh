#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into ./build-fuzz and runs each for a
# bounded time: bash scripts/fuzz.sh [seconds-per-target, default 60].
# Each run works on a copy of its seed corpus in a temporary directory; inputs
# that crash are kept in build-fuzz/fuzz-artifacts/. Exits non-zero when any
# target crashed or failed to start.
set -euo pipefail
seconds="${1:-60}"
case "$seconds" in
  '' | *[!0-9]*) echo "usage: $0 [seconds-per-target]" >&2; exit 2 ;;
esac
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="${TAMSIVO_FUZZ_BUILD_DIR:-$repo/build-fuzz}"
targets=(ini_file gbk datetime textnum url text_between cookies encoding holidays holiday_json command_line fold store_schema dav_answer
  import_own_export import_calendar import_dayone import_jrnl import_rednotebook import_recognise)

bash "$repo/scripts/deps.sh"

export CC=clang-14 CXX=clang++-14
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER="$CC" -DCMAKE_CXX_COMPILER="$CXX" \
  -DTAMSIVO_FUZZ=ON -DTAMSIVO_BUILD_TESTS=OFF -DTAMSIVO_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target tamsivo_fuzzers

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failed=()
for t in "${targets[@]}"; do
  mkdir -p "$work/$t" "$build/fuzz-artifacts/$t"
  cp "$repo/tests/fuzz/corpus/$t/"* "$work/$t/"
  log="$work/$t.log"
  if "$build/tests/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$t/" "$work/$t" >"$log" 2>&1; then
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
    echo "fuzz_$t: ${runs:-?} runs in ${seconds}s, no failure"
  else
    failed+=("$t")
    echo "fuzz_$t: FAILED; the end of its log:"
    tail -n 40 "$log"
    echo "(inputs kept in $build/fuzz-artifacts/$t/)"
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: ${#failed[@]} of ${#targets[@]} targets failed: ${failed[*]}"
  exit 1
fi
echo "fuzz: all ${#targets[@]} targets ran ${seconds}s each without a failure"
