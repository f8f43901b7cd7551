#!/usr/bin/env bash
# Builds and runs the benchmark programs under Wine; prints their figures.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$root/build}
export WIN64_BUILD_DIR=${WIN64_BUILD_DIR:-$root/build-win64}
"$root/scripts/build.sh" >/dev/null
"$root/scripts/build.sh" --win64 >/dev/null
. "$root/scripts/wine_env.sh"
qx_wine_session
cd "$BUILD_DIR/bin"
# The SQL functions of the 32-bit and the 64-bit module, side by side; the 64-bit module
# runs in its own prefix, in a subshell so that the 32-bit prefix stays for what follows.
wine udf_bench.exe 2>&1 | tr -d '\r' > "$BUILD_DIR/udf_bench_32.txt"
( qx_wine64_prefix "$WIN64_BUILD_DIR"
  cd "$WIN64_BUILD_DIR/bin" && "$QX_WINE" udf_bench.exe 2>&1 | tr -d '\r' ) \
  > "$BUILD_DIR/udf_bench_64.txt"
/usr/bin/python3 "$root/bench/udf_bench_widths.py" "$BUILD_DIR/udf_bench_32.txt" \
  "$BUILD_DIR/udf_bench_64.txt"
wine trim_rtf_bench.exe 2>&1 | tr -d '\r'
wine settings_bench.exe 2>&1 | tr -d '\r'
wine handling_bench.exe 2>&1 | tr -d '\r'
wine exception_box_bench.exe 2>&1 | tr -d '\r'
# The decoder's benchmark runs natively, beside capstone in the same process.
"$root/scripts/test_stack_native.sh" --bench
wine map_bench.exe QXUdfLib.dll QXUdfLib.debug.dll 2>&1 | tr -d '\r'
# SMTP and HTTP to loopback peers (aiosmtpd, http.server): time and bytes on the wire.
/usr/bin/python3 "$root/tests/delivery/network_peers.py" "$BUILD_DIR/network_bench_out" -- \
  wine network_bench.exe 2>&1 | tr -d '\r'
# Attachments: a screenshot of a desktop with a few windows (under Wine), then our colour
# PNG and zip natively beside PIL and Python's zipfile (PIL is the system Python's).
wine delivery_desktop_shot.exe "$BUILD_DIR/delivery_desktop.bmp" 2>&1 | tr -d '\r'
native=${UDF_LINUX_BUILD_DIR:-$root/build-native}
if [ ! -f "$native/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$native" -j 2 --target delivery_bench >/dev/null
/usr/bin/python3 "$root/bench/delivery_bench.py" "$native/bin/delivery_bench" \
  "$BUILD_DIR/delivery_desktop.bmp" "$BUILD_DIR/delivery_bench"
