#!/usr/bin/env bash
# Builds everything and runs every test under Wine, with a display of its own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
. "$root/scripts/wine_env.sh"
trap qx_stop_display EXIT
qx_start_display
qx_prepare_prefix
qx_unmanaged_windows
cd "$BUILD_DIR"
ctest --output-on-failure -j 2 "$@"
