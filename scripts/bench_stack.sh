#!/usr/bin/env bash
# The stack walker's figures: frames expected, found and wrong over the crash corpus for
# both builds, for the crashed thread and for the other threads, the seconds from a
# program's start to its report, and stack_trace_bench (TraceStack per thread and per KB, a
# complete report).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$root/build}
programs="av_worker cpp_throw terminate divide_zero stack_overflow recursion_abab callback_crash
created_by null_call pure_virtual heap_corrupt timer_fault fastcall_chain inline_header
stripped_dll threads_wait"
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
  echo "build $build: program, crashed thread expected found wrong, other threads expected found wrong, time"
  ce=0 cf=0 cw=0 oe=0 of=0 ow=0
  for program in $programs; do
    extra=()
    [ "$program" = stripped_dll ] && extra=(--extra-module "stripped_helper_${build}.dll")
    line=$(python3 "$root/tests/crash/check_crash.py" --measure "$BUILD_DIR/bin/crash_${program}_${build}.exe" \
      "$BUILD_DIR/bin/crash_${program}_${build}.debug.dll" "$root/tests/crash/${program}.cpp" \
      "$root/tests/crash/${program}.expect" "${extra[@]}")
    echo "  $line"
    set -- $line
    ce=$((ce + $3)) cf=$((cf + $4)) cw=$((cw + $5)) oe=$((oe + $7)) of=$((of + $8)) ow=$((ow + $9))
  done
  echo "  total crashed: expected $ce found $cf wrong $cw; other threads: expected $oe found $of wrong $ow"
done
wine "$BUILD_DIR/bin/stack_trace_bench.exe"
