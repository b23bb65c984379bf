#!/usr/bin/env bash
# Log mode's journal on the live input, where it matters: the runs survive what the log file
# does not.
#   1. The log's folder is missing. The journal goes to TMPDIR at once (stderr says so); the log
#      fills and the tool stops by itself, then fails to open the log file exactly as before
#      ("ERROR opening file", exit code 1). The journal stays, stderr names it, and it holds the
#      log's whole capacity: the runs the slicer gives offline for the samples played, which
#      vorlank-analyze reads like a log.
#   2. The tool is killed outright while the signal plays. The journal beside the log holds at
#      least the runs that a status line showed 1.5 s before (it is appended once a second),
#      and they are the offline runs of the samples played.
#
# Called as: log_journal.sh VORLANK VORLANK_SYNTH E2E_RUNS VORLANK_ANALYZE
source "$(dirname "$0")/lib.sh"
ANALYZE=$4

"$SYNTH" -o "$WORK/signal.wav" -d 6 --sweep --silence-before 200 2>"$WORK/synth.txt"
total=$("$RUNS" count "$WORK/signal.wav")

# 1. Missing folder.
mkdir "$WORK/tmp"
export TMPDIR=$WORK/tmp
log=$WORK/missing/runs.log
journal=$WORK/tmp/runs.log.partial
capacity=$((total / 4))  # fills while the signal still plays
start_vorlank L "$log" "$capacity"
wait_for_capture
play "$WORK/signal.wav"
wait_for_exit 10
[ "$STATUS" -eq 1 ] || fail "missing folder: exit code $STATUS, expected 1"
[ "$(tail -n 2 "$WORK/out")" = "$(printf 'Writing logfile...\nERROR opening file "%s"' "$log")" ] ||
  fail "missing folder: the last lines are not the write attempt and the open error"
! grep -q 'Stopping' "$WORK/out" || fail "missing folder: Stopping... printed, but the log filled"
expected=$(printf '%s\n' \
  "vorlank: cannot create journal \"$log.partial\" (No such file or directory); using \"$journal\" instead" \
  "vorlank: log file \"$log\" is missing or incomplete; its $capacity runs are in journal \"$journal\"")
[ "$(cat "$WORK/err")" = "$expected" ] || fail "missing folder: stderr is not the two journal lines"
size=$(stat -c %s "$journal")
[ "$size" -eq $((capacity * 4)) ] || fail "journal has $size bytes, expected $((capacity * 4))"
"$RUNS" compare "$WORK/signal.wav" "$journal" || fail "the journal's runs differ from the offline runs"
"$ANALYZE" "$journal" >"$WORK/analysis" 2>&1 || fail "vorlank-analyze refused the journal: $(cat "$WORK/analysis")"
frames=$(sed -n 's/^Frames *\([0-9]*\).*/\1/p' "$WORK/analysis")
[ "${frames:-0}" -gt 0 ] || fail "vorlank-analyze found no frames in the journal: $(cat "$WORK/analysis")"
echo "missing folder: journal of $capacity runs in TMPDIR, equal to the offline runs; analyze: $frames frames"

# 2. Killed outright in mid capture.
log=$WORK/runs.log
journal=$log.partial
start_vorlank L "$log" 10000000
wait_for_capture
paplay "$WORK/signal.wav" &
player=$!
shown=0
for _ in $(seq 100); do
  shown=$(sed -n 's/^#Transitions *\([0-9]*\) $/\1/p' "$WORK/out" | tail -n 1)
  [ "${shown:-0}" -lt 1000 ] || break
  sleep 0.1
done
[ "${shown:-0}" -ge 1000 ] || fail "kill -9: the signal did not arrive within 10 s"
sleep 1.5
kill -KILL "$VPID"
wait "$VPID" 2>/dev/null || true
VPID=""
kill "$player" 2>/dev/null || true
wait "$player" 2>/dev/null || true
[ ! -e "$log" ] || fail "kill -9: a log file exists, but the tool never got to write one"
[ ! -s "$WORK/err" ] || fail "kill -9: unexpected messages on stderr"
size=$(stat -c %s "$journal")
[ $((size % 4)) -eq 0 ] || fail "kill -9: journal of $size bytes, not whole runs"
[ $((size / 4)) -ge "$shown" ] ||
  fail "kill -9: journal holds $((size / 4)) runs; a status line showed $shown 1.5 s before the kill"
"$RUNS" compare "$WORK/signal.wav" "$journal" || fail "kill -9: the journal's runs differ from the offline runs"
echo "kill -9: journal holds $((size / 4)) runs; a status line showed $shown 1.5 s before the kill"
