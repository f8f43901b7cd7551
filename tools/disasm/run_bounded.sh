#!/usr/bin/env bash
# Runs a Windows program under Wine with a time limit, once more if the first run does not
# end in time. Now and then, with many Wine processes starting at once, a process has been
# seen to print all of its output and then never end; a second run tells that apart from a
# program that really hangs.
limit=$1
shift
for attempt in 1 2; do
  timeout "$limit" wine "$@"
  status=$?
  [ "$status" -ne 124 ] && exit "$status"
  echo "run $attempt did not end within ${limit}s" >&2
done
exit 124
