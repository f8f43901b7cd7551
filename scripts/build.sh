#!/usr/bin/env bash
# Configures and builds the Windows module, the host stand-in and the tests.
#   build.sh           the 32-bit build in $BUILD_DIR (build/)
#   build.sh --win64   the 64-bit build in $WIN64_BUILD_DIR (build-win64/): the SQL functions
#                      and the UDR module for 64-bit servers, the host and their tests
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = "--win64" ]; then
  dir=${WIN64_BUILD_DIR:-$root/build-win64}
  toolchain=$root/cmake/mingw-x86_64.cmake
else
  dir=${BUILD_DIR:-$root/build}
  toolchain=$root/cmake/mingw-i686.cmake
fi
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$dir" "${generator[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$dir" -j "$(nproc)"
