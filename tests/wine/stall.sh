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
[ $# -eq 3 ] || { echo "usage: $0 VORLANK_EXE PREFIX VORLANK_SYNTH" >&2; exit 2; }
exe=$1
export WINEPREFIX=$2
synth=$3
. "$(dirname "$0")/lib.sh"
[ -f "$exe" ] || fail "$exe not found; build it with: cmake --preset windows && cmake --build --preset windows"
[ -n "${PULSE_SERVER:-}" ] || fail "no private PulseAudio server; run this under scripts/with-pulse"

work=$(mktemp -d)
pid=""
player=""
cleanup() {
  [ -z "$pid" ] || kill -CONT "$pid" 2>/dev/null || true
  [ -z "$pid" ] || kill -KILL "$pid" 2>/dev/null || true
  [ -z "$player" ] || kill "$player" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

frames=300   # about 8.3 s of signal
# The silence before the signal covers the first second or two of the record stream, in which
# wine's winmm hands over no sound yet.
before_ms=2500
after_ms=200
"$synth" -o "$work/signal.wav" --frames "$frames" --silence-before "$before_ms" \
  --silence-after "$after_ms" 2>"$work/synth.txt" || fail "vorlank-synth: $(cat "$work/synth.txt")"
# Samples of the frames alone, without the silence around them.
samples=$(( $(sed -n 's/.*samples=\([0-9]*\).*/\1/p' "$work/synth.txt") - (before_ms + after_ms) * 441 / 10 ))

start_vorlank T
wait_for_lines "$work/out" '^#PCMFrames' 1 60
paplay "$work/signal.wav" &
player=$!
sleep 5
kill -STOP "$pid"
sleep 1.5
kill -CONT "$pid"
wait "$player" || fail "paplay could not play into the cable"
player=""
lines=$(grep -c '^#PCMFrames' "$work/out")
wait_for_lines "$work/out" '^#PCMFrames' $((lines + 2)) 10
interrupt_test_mode

echo "--- vorlank.exe T, stderr:"
tool_errors
bad=$(tool_errors | grep -vE '^vorlank: audio input overrun, about [0-9]+ samples lost$' || true)
[ -z "$bad" ] || fail "unexpected lines on stderr: $bad"
lost=$(tool_errors | sed -E 's/.*about ([0-9]+) samples.*/\1/' | awk '{ n += $1 } END { print n + 0 }')
read -r got_frames got_errors < <(grep '^#PCMFrames' "$work/lines" | tail -n 1 |
  sed -E 's/^#PCMFrames = *([0-9]+) .*#PCMErrors = *([0-9]+) .*/\1 \2/')
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
