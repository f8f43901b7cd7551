#!/usr/bin/env bash
# Configures and builds the 64-bit Windows build: QXUdfLib.dll and QXUdr.dll for 64-bit
# servers (the SQL functions without the reporter), the host stand-in and their tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
WIN64_BUILD_DIR=${WIN64_BUILD_DIR:-$root/build-win64}
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
if [ ! -f "$WIN64_BUILD_DIR/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$WIN64_BUILD_DIR" "${generator[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$WIN64_BUILD_DIR" -j "$(nproc)"
