#!/usr/bin/env bash
# The stack walker's figures: frames expected, found and wrong over the crash corpus for
# both builds, and stack_trace_bench (TraceStack per thread and per KB, a complete report).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$root/build}
programs="av_worker cpp_throw terminate divide_zero stack_overflow recursion_abab callback_crash created_by"
targets="stack_trace_bench"
for build in fp nofp; do
  for program in $programs; do targets="$targets crash_${program}_${build}"; done
done
cmake --build "$BUILD_DIR" -j 2 --target $targets >/dev/null
. "$root/scripts/wine_env.sh"
trap qx_stop_display EXIT
qx_start_display
qx_prepare_prefix
for build in fp nofp; do
  echo "build $build: program expected found wrong"
  expected=0 found=0 wrong=0
  for program in $programs; do
    line=$(python3 "$root/tests/crash/check_crash.py" --measure "$BUILD_DIR/bin/crash_${program}_${build}.exe" \
      "$BUILD_DIR/bin/crash_${program}_${build}.debug.dll" "$root/tests/crash/${program}.cpp" \
      "$root/tests/crash/${program}.expect")
    echo "  $line"
    set -- $line
    expected=$((expected + $2)) found=$((found + $3)) wrong=$((wrong + $4))
  done
  echo "  total expected $expected found $found wrong $wrong"
done
wine "$BUILD_DIR/bin/stack_trace_bench.exe"
