#!/usr/bin/env bash
# Usage: scripts/with-pulse tests/wine/stall.sh VORLANK_EXE PREFIX VORLANK_SYNTH
#
# The Windows build in test mode under wine, held still for 1.5 s (SIGSTOP, then SIGCONT) while a
# signal plays, as a machine that falls behind or is suspended holds it. The sound server goes
# on meanwhile and keeps only a little of what the tool did not take; winmm says nothing about
# the rest, so the tool has to notice by itself.
#
# Checks: the input is not taken for gone; either every frame is decoded (all but at most two),
# or stderr reports the sound lost ("audio input overrun, about N samples lost") and the frames
# missing match N within a few frames (a frame cut by the gap may be lost whole or count as one
# error); standard output keeps its exact format, and Ctrl+C ends the tool with code 0.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
begin_test "VORLANK_EXE PREFIX VORLANK_SYNTH" "$@"
synth=$(realpath -m "$3")
need_cable
player=""
kill_at_exit player

frames=300   # about 8.3 s of signal
# The silence before the signal covers the first second or two of the record stream, in which
# wine's winmm hands over no sound yet.
before_ms=2500
after_ms=200
synthesize --frames "$frames" --silence-before "$before_ms" --silence-after "$after_ms"
# Samples of the frames alone, without the silence around them.
samples=$(( $(sed -n 's/.*samples=\([0-9]*\).*/\1/p' "$work/synth.txt") - (before_ms + after_ms) * 441 / 10 ))

start_vorlank T
wait_for_status 1
paplay "$work/signal.wav" &
player=$!
sleep 5
kill -STOP "$pid"
sleep 1.5
kill -CONT "$pid"
wait "$player" || fail "paplay could not play into the cable"
player=""
wait_for_decoding
interrupt_test_mode 10

echo "--- vorlank.exe T, stderr:"
tool_errors
bad=$(tool_errors | grep -vE '^vorlank: audio input overrun, about [0-9]+ samples lost$' || true)
[ -z "$bad" ] || fail "unexpected lines on stderr: $bad"
lost=$(tool_errors | sed -E 's/.*about ([0-9]+) samples.*/\1/' | awk '{ n += $1 } END { print n + 0 }')
read_last_status
missing=$((frames - got_frames))
# Frames the reported loss stands for, rounded to the nearest whole frame.
lost_frames=$(( (lost * frames + samples / 2) / samples ))
echo "held 1.5 s: $got_frames of $frames frames, $got_errors errors; reported lost: $lost samples" \
  "(about $lost_frames frames)"
[ "$got_errors" -le 2 ] || fail "#PCMErrors = $got_errors, expected at most 2 from the cut"
if [ "$lost" -eq 0 ]; then
  [ "$missing" -le 2 ] || fail "$missing frames missing and no loss reported"
else
  [ "$missing" -ge $((lost_frames - 3)) ] && [ "$missing" -le $((lost_frames + 3)) ] ||
    fail "$missing frames missing, but the loss reported stands for $lost_frames"
fi
