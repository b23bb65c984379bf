#!/usr/bin/env bash
# Usage: scripts/with-pulse tests/wine/server_restart.sh VORLANK_EXE PREFIX VORLANK_SYNTH
#
# The Windows build in test mode under wine while the sound server goes away and comes back, as
# a crashed or restarted PulseAudio does: the script stops the private server of
# scripts/with-pulse while the tool captures, and starts it again a few seconds later.
#
# Checks: with sound flowing, within a second or two of the server's end, one line on stderr
# says the input is gone; after its return one line says it is back; a signal played after that
# is decoded whole (all frames but at most two, Pos1 as encoded); standard output keeps its exact
# format throughout, and Ctrl+C ends the tool with code 0.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
begin_test "VORLANK_EXE PREFIX VORLANK_SYNTH" "$@"
synth=$(realpath -m "$3")
need_cable_control

frames=120   # about 3.3 s of signal
pos1=321
# The silence before the signal covers the first second or two of a new record stream, in which
# wine's winmm hands over no sound yet.
synthesize --frames "$frames" --pos1 "$pos1" --silence-before 2500 --silence-after 200

expected_errors='vorlank: audio input "default" is gone (no sound for 1 s); waiting for it to come back
vorlank: audio input "default" is back; capture has resumed'

start_vorlank T
wait_for_status 1
# Frames on the status line: sound is flowing.
play_signal
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
play_signal
wait_for_decoding
interrupt_test_mode 10

echo "--- vorlank.exe T, stderr:"
tool_errors
[ "$(tool_errors)" = "$expected_errors" ] ||
  fail "stderr is not the two lines of a lost and returned input"
expect_signal_decoded "$before" "$frames" "$pos1" " after the server came back"
echo "after the server came back: $decoded of $frames frames, Pos1 $got_pos1; Ctrl+C ended it with code 0"
