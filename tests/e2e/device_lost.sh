#!/usr/bin/env bash
# The sound server goes away while the tool captures: one line on stderr says so, the tool keeps
# printing status lines until it is stopped, and then it ends normally with exit code 0.
source "$(dirname "$0")/lib.sh"

start_vorlank T
wait_for_capture
sleep 0.5
pactl exit
sleep 1.5
kill -0 "$VPID" 2>/dev/null || fail "vorlank ended when its sound input went away"
linesBefore=$(grep -c '^#PCMFrames' "$WORK/out" || true)
sleep 1.1
linesAfter=$(grep -c '^#PCMFrames' "$WORK/out" || true)
[ "$linesAfter" -gt "$linesBefore" ] || fail "status lines stopped after the input went away"
stop_vorlank
[ "$STATUS" -eq 0 ] || fail "exit code $STATUS, expected 0"

[ "$(wc -l <"$WORK/err")" -eq 1 ] || fail "expected exactly one line on stderr"
grep -q '^vorlank: audio input "default" is gone (.*); capture has ended$' "$WORK/err" ||
  fail "stderr does not report the lost input: $(cat "$WORK/err")"
[ "$(tail -n 1 "$WORK/out")" = "Stopping..." ] || fail "the last line is not Stopping..."
