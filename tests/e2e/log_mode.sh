#!/usr/bin/env bash
# Log mode on the live input: the runs logged while a signal is played into the cable are the runs
# the slicer gives offline for the same samples, and the tool stops by itself once the log is
# full: no "Stopping...", then "Writing logfile...", exit code 0, a file of capacity x 4 bytes.
source "$(dirname "$0")/lib.sh"

"$SYNTH" -o "$WORK/signal.wav" -d 3 --sweep --silence-before 200 2>"$WORK/synth.txt"
total=$("$RUNS" count "$WORK/signal.wav")
capacity=$((total * 2 / 3))  # fills while the signal still plays

start_vorlank L "$WORK/runs.log" "$capacity"
wait_for_capture
play "$WORK/signal.wav"
wait_for_exit 10
[ "$STATUS" -eq 0 ] || fail "exit code $STATUS, expected 0"
[ ! -s "$WORK/err" ] || fail "unexpected messages on stderr"

! grep -q 'Stopping' "$WORK/out" || fail "Stopping... printed although nobody stopped the tool"
[ "$(tail -n 1 "$WORK/out")" = "Writing logfile..." ] || fail "the last line is not Writing logfile..."
while IFS= read -r line; do
  [ "$line" = "Writing logfile..." ] && continue
  count=$(sed -n 's/^#Transitions *\([0-9]*\) $/\1/p' <<<"$line")
  [ -n "$count" ] && [ "$line" = "$(printf '#Transitions %6ld ' "$count")" ] ||
    fail "not a log-mode status line: '$line'"
done <"$WORK/out"

size=$(stat -c %s "$WORK/runs.log")
[ "$size" -eq $((capacity * 4)) ] || fail "log file has $size bytes, expected $((capacity * 4))"
"$RUNS" compare "$WORK/signal.wav" "$WORK/runs.log" || fail "logged runs differ from the offline runs"
