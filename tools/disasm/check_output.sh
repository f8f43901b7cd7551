#!/usr/bin/env bash
# Runs a command and checks that it ends with exit status 0 and prints exactly the lines of
# an expected file (its leading "#" lines, which say where the expectation comes from, left
# out; carriage returns of Windows programs ignored).
#   check_output.sh EXPECTED_FILE command [arguments...]
expected=$1
shift
output=$("$@")
status=$?
if [ "$status" -ne 0 ]; then
  printf '%s\n' "$output"
  echo "check_output: the command ended with exit status $status" >&2
  exit 1
fi
if ! diff -u <(awk 'body || !/^#/ { body = 1; print }' "$expected") \
             <(printf '%s\n' "$output" | tr -d '\r') >&2; then
  echo "check_output: the output differs from $expected (- expected, + printed)" >&2
  exit 1
fi
