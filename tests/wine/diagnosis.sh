#!/usr/bin/env bash
# Usage: scripts/with-pulse tests/wine/diagnosis.sh VORLANK_EXE PREFIX VORLANK_SYNTH
#
# The Windows build under wine says on stderr what it hears while nothing decodes, on live sound
# through the private PulseAudio cable:
#   test mode: silence, then a 1 kHz square wave, then frames whose every code word is bad: a line
#              that says "silent", one that says "sync", one that says "fail", each within 7 s
#              (silence from the first status line, the others from the start of their sound);
#   log mode:  silence gives the "silent" line too;
#   test mode: 20 s of clean signal give no line at all.
# Standard output keeps its exact format, and Ctrl+C ends the tool with code 0.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
begin_test "VORLANK_EXE PREFIX VORLANK_SYNTH" "$@"
synth=$(realpath -m "$3")
need_cable
player=""
kill_at_exit player

sox -n -r 44100 -c 1 -b 16 "$work/square.wav" synth 10 square 1000 vol 0.5
"$synth" -o "$work/bad.wav" -d 10 --bad-words 2>/dev/null
synthesize --duration 20 --sweep --silence-before 200 --silence-after 200

# Waits at most 7 s for a line of the tool's that contains $1; says how long it took from $2
# (date +%s%N).
said_within_7s() {
  for _ in $(seq 140); do
    if tool_errors | grep -q -F "$1"; then
      echo "'$1' after $((($(date +%s%N) - $2) / 1000000)) ms: $(tool_errors | grep -F "$1")"
      return 0
    fi
    sleep 0.05
  done
  fail "no '$1' on stderr within 7 s: $(tool_errors)"
}

# Plays $1 into the cable in the background; its pid goes to `player`.
play_in_background() {
  paplay "$1" &
  player=$!
}

start_vorlank T
wait_for_status 1
said_within_7s silent "$(date +%s%N)"
play_in_background "$work/square.wav"
said_within_7s sync "$(date +%s%N)"
wait "$player" || fail "paplay could not play the square wave"
play_in_background "$work/bad.wav"
said_within_7s fail "$(date +%s%N)"
wait "$player" || fail "paplay could not play the bad frames"
player=""
interrupt_test_mode 10
[ "$(tool_errors | wc -l)" -eq 3 ] || fail "expected three lines on stderr: $(tool_errors)"

start_vorlank L "$work/runs.log" 1000000
wait_for_status 1
said_within_7s silent "$(date +%s%N)"
stop_with_ctrl_c 10 "L runs.log 1000000"
[ "$(tool_errors | wc -l)" -eq 1 ] || fail "log mode: expected one line on stderr: $(tool_errors)"

start_vorlank T
wait_for_status 1
play_signal
wait_for_decoding
interrupt_test_mode 10
[ -z "$(tool_errors)" ] || fail "said something of a clean signal: $(tool_errors)"
read_last_status
echo "20 s of clean signal: nothing said; last status line shows $got_frames frames, $got_errors errors"
