#!/usr/bin/env bash
# Log mode with the log on a disk that fills up while the signal plays: a 16 KB tmpfs, so the
# journal beside the log runs out of room after about 4 000 runs. The journal moves to TMPDIR
# (stderr names it at once) and goes on there; the tool is stopped with SIGTERM after the signal
# has played, the log file does not fit ("ERROR writing to file", exit code 1, as before), and the
# journal that remains in TMPDIR holds every run of the recording: as many as the last status line
# counted, equal to the runs the slicer gives offline for the samples played. Nothing is left on
# the small disk but the log file's attempt.
#
# Mounting the tmpfs takes root (CI runs as root); elsewhere the test is skipped (exit code 77).
#
# Called as: log_full_disk.sh VORLANK VORLANK_SYNTH E2E_RUNS
source "$(dirname "$0")/lib.sh"

skip() {
  echo "SKIP: $*"
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "mounting a small tmpfs for the full disk needs root"
mkdir "$WORK/full" "$WORK/tmp"
mount -t tmpfs -o size=16k,mode=0755 vorlank-full "$WORK/full" 2>"$WORK/mount" ||
  skip "cannot mount a tmpfs here: $(cat "$WORK/mount")"
# The tool ends before the disk goes, and the disk before the work folder.
unmount_and_clean() {
  if [ -n "$VPID" ]; then kill -KILL "$VPID" 2>/dev/null || true; wait "$VPID" 2>/dev/null || true; fi
  umount "$WORK/full"
  cleanup
}
trap unmount_and_clean EXIT

"$SYNTH" -o "$WORK/signal.wav" -d 6 --sweep --silence-before 200 --silence-after 500 2>"$WORK/synth.txt"
export TMPDIR=$WORK/tmp
log=$WORK/full/runs.log
journal=$WORK/tmp/runs.log.partial
start_vorlank L "$log" 1000000
wait_for_capture
play "$WORK/signal.wav"
# Two status lines after the last run, so that the last one counts them all.
sleep 1.2
stop_vorlank TERM
[ "$STATUS" -eq 1 ] || fail "exit code $STATUS, expected 1"
[ "$(tail -n 3 "$WORK/out")" = "$(printf 'Stopping...\nWriting logfile...\nERROR writing to file "%s"' "$log")" ] ||
  fail "the last lines are not the stop, the write attempt and the write error"
shown=$(sed -n 's/^#Transitions *\([0-9]*\) $/\1/p' "$WORK/out" | tail -n 1)
expected=$(printf '%s\n' \
  "vorlank: cannot write journal \"$log.partial\" (No space left on device); moved it to \"$journal\"" \
  "vorlank: log file \"$log\" is missing or incomplete; its $shown runs are in journal \"$journal\"")
[ "$(cat "$WORK/err")" = "$expected" ] ||
  fail "stderr is not the move and the kept journal of $shown runs"
size=$(stat -c %s "$journal")
[ "$size" -eq $((shown * 4)) ] || fail "journal of $size bytes; the last status line counted $shown runs"
# More than the small disk could ever have held.
[ "$size" -gt 16384 ] || fail "journal of $size bytes: the signal did not fill the disk"
"$RUNS" compare "$WORK/signal.wav" "$journal" || fail "the journal's runs differ from the offline runs"
[ "$(ls "$WORK/full")" = runs.log ] || fail "left on the full disk: $(ls "$WORK/full" | tr '\n' ' ')"
echo "full disk: journal moved to TMPDIR, holds all $shown runs the status line counted ($size bytes)"
