#!/usr/bin/env bash
# Builds and runs the benchmark programs under Wine; prints their figures.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$root/build}
"$root/scripts/build.sh" >/dev/null
. "$root/scripts/wine_env.sh"
qx_wine_session
cd "$BUILD_DIR/bin"
wine udf_bench.exe 2>&1 | tr -d '\r'
wine trim_rtf_bench.exe 2>&1 | tr -d '\r'
wine settings_bench.exe 2>&1 | tr -d '\r'
wine handling_bench.exe 2>&1 | tr -d '\r'
# The decoder's benchmark runs natively, beside capstone in the same process.
"$root/scripts/test_stack_native.sh" --bench
wine map_bench.exe QXUdfLib.dll QXUdfLib.debug.dll 2>&1 | tr -d '\r'
