#!/usr/bin/env bash
# Loads QXUdfLib.dll into the server stand-in and calls every SQL function.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$root/build}
"$root/scripts/build.sh" >/dev/null
. "$root/scripts/wine_env.sh"
qx_wine_session
cd "$BUILD_DIR/bin"
rtf='{\rtf1\ansi{\fonttbl{\f0 Arial;}}\f0\fs20 Hello, {\b world}!\par}'
blank_rtf='{\rtf1\ansi{\fonttbl{\f0 Arial;}}\f0\fs20 \par\tab \par}'
wine udfhost.exe \
  "fn_setbit(5, 2)" "fn_clearbit(7, 2)" "fn_checkbit(5, 6)" \
  "fn_minvalue(3, -1)" "fn_maxvalue(-5, -7)" "fn_incday(100.25, -101)" \
  "fn_factbedragbetaald(1500, 'YES')" "fn_factbedragbetaald(1500, 'y')" \
  "fn_BoolStringToInt('YNY')" "fn_inttocnk(-42)" "fn_inttocnk(12345678)" \
  "fn_formatDouble(0.1)" "fn_formatDouble(1234567890123456)" "fn_formatDouble(0.00001)" \
  "fn_strReplace('banana','ana','x')" "fn_strReplace('aaa','a','aa')" \
  "fn_GetBlobValue(blob:'a=1\r\nB=2\r\na=3', 'b')" "fn_GetBlobValue(blob:'key=a=b', 'key')" \
  "fn_TrimRTF(blob:'${rtf//\\/\\\\}')" "fn_TrimRTF(blob:'${blank_rtf//\\/\\\\}')" \
  "fn_TrimRTF(blob:'  \r\n  ')" "fn_strReplace(null, 'a', 'b')" \
  2>&1 | tr -d '\r'

# The reporter's side: a program that links the reporter faults three calls deep in a
# worker thread, and its bug report (header and the crashed thread's call stack) is shown.
report=$(mktemp -d)/bugreport.txt
echo
echo "--- bug report of crash_av_worker_fp.exe (access violation in a worker thread) ---"
timeout 120 wine crash_av_worker_fp.exe "$report" >/dev/null 2>&1 || true
if [ -s "$report" ]; then
  tr -d '\r' < "$report" | awk '{ print } /^>> created by/ { getline; print; exit }' | head -60
  echo "[... the main thread, registers, stack dump, disassembly, module, process and hardware lists follow in $report]"
else
  echo "no report was written" >&2
  exit 1
fi
