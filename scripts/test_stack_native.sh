#!/usr/bin/env bash
# Builds the decoder and its tests natively and runs them: the unit tests once more outside
# Wine, and the comparison with capstone over Wine's i386 DLLs, which needs libcapstone.
# The PE image view's test runs here too, comparing with objdump over the Windows build's
# QXUdfLib.dll.
# With --bench it runs the decoder's benchmark against capstone instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${STACK_NATIVE_BUILD_DIR:-${BUILD_DIR:-$root/build}-stack}
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$dir" -j 2 --target stack_decoder_test stack_differential_test stack_decoder_bench stack_trace_test \
  base_pe_image_test \
  >/dev/null
if [ "${1:-}" = --bench ]; then
  exec "$dir/bin/stack_decoder_bench"
fi
cd "$dir"
export QX_WINDOWS_BUILD_DIR=${QX_WINDOWS_BUILD_DIR:-${BUILD_DIR:-$root/build}}
ctest --output-on-failure -R '^(stack_|base_)'
