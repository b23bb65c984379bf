#!/usr/bin/env bash
# Usage: scripts/with-pulse tests/wine/server_restart.sh VORLANK_EXE PREFIX VORLANK_SYNTH
#
# The Windows build in test mode under wine while the sound server goes away and comes back, as
# a crashed or restarted PulseAudio does: the script stops the private server of
# scripts/with-pulse while the tool captures, and starts it again a few seconds later.
#
# Checks: with sound flowing, within a second or two of the server's end, one line on stderr says the input is gone;
# after its return one line says it is back; a signal played after that is decoded whole (all
# frames but at most two, Pos1 as encoded); standard output keeps its exact format throughout,
# and Ctrl+C ends the tool with code 0.
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 VORLANK_EXE PREFIX VORLANK_SYNTH" >&2; exit 2; }
exe=$1
export WINEPREFIX=$2
synth=$3
. "$(dirname "$0")/lib.sh"
[ -f "$exe" ] || fail "$exe not found; build it with: cmake --preset windows && cmake --build --preset windows"
[ -n "${VORLANK_PULSE_CTL:-}" ] || fail "no private PulseAudio server; run this under scripts/with-pulse"

work=$(mktemp -d)
pid=""
cleanup() {
  [ -z "$pid" ] || kill -KILL "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

frames=120   # about 3.3 s of signal
pos1=321
# The silence before the signal covers the first second or two of a new record stream, in which
# wine's winmm hands over no sound yet.
"$synth" -o "$work/signal.wav" --frames "$frames" --pos1 "$pos1" --silence-before 2500 \
  --silence-after 200 2>"$work/synth.txt" || fail "vorlank-synth: $(cat "$work/synth.txt")"

expected_errors='vorlank: audio input "default" is gone (no sound for 1 s); waiting for it to come back
vorlank: audio input "default" is back; capture has resumed'

start_vorlank T
wait_for_lines "$work/out" '^#PCMFrames' 1 60
# Frames on the status line: sound is flowing.
paplay "$work/signal.wav" || fail "paplay could not play into the cable"
for _ in $(seq 50); do [ "$(frames_shown)" -gt 0 ] && break; sleep 0.1; done
[ "$(frames_shown)" -gt 0 ] || fail "no frames decoded before the server went away"
"$VORLANK_PULSE_CTL" stop
wait_for_lines "$work/err" 'is gone' 1 10
sleep 2
"$VORLANK_PULSE_CTL" start
returned=$(date +%s%N)
wait_for_lines "$work/err" 'is back' 1 10
echo "back $(( ($(date +%s%N) - returned) / 1000000 )) ms after the server"

before=$(frames_shown)
paplay "$work/signal.wav" || fail "paplay could not play into the cable"
lines=$(grep -c '^#PCMFrames' "$work/out")
wait_for_lines "$work/out" '^#PCMFrames' $((lines + 2)) 10
interrupt_test_mode

echo "--- vorlank.exe T, stderr:"
tool_errors
[ "$(tool_errors)" = "$expected_errors" ] ||
  fail "stderr is not the two lines of a lost and returned input"
read -r got_frames got_pos1 < <(grep '^#PCMFrames' "$work/lines" | tail -n 1 |
  sed -E 's/^#PCMFrames = *([0-9]+) .*Pos1 = *([0-9]+)$/\1 \2/')
decoded=$((got_frames - before))
[ "$got_pos1" -eq "$pos1" ] || fail "Pos1 = $got_pos1, expected $pos1"
[ "$decoded" -le "$frames" ] && [ "$decoded" -ge $((frames - 2)) ] ||
  fail "$decoded frames decoded after the server came back, expected $((frames - 2))..$frames"
echo "after the server came back: $decoded of $frames frames, Pos1 $got_pos1; Ctrl+C ended it with code 0"
