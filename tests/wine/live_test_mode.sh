#!/usr/bin/env bash
# Usage: scripts/with-pulse tests/wine/live_test_mode.sh VORLANK_EXE PREFIX VORLANK_SYNTH
#
# The Windows build in test mode under wine, on live sound: wine's winmm captures from the
# private PulseAudio cable that scripts/with-pulse provides, while paplay plays a synthesized
# signal into it. Then the script stops the tool with SIGINT, which wine hands to the program as a
# console Ctrl+C event (CTRL_C_EVENT), so this also tests the console stop handler.
#
# Checks: every status line has the exact format; the last one shows the encoded Pos1, zero
# errors and all frames of the signal but at most two (the first may pass before the decoder has
# seen a clean sync); exactly one "Stopping..." line; exit code 0.
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
cleanup() {
  [ -z "$pid" ] || kill -KILL "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

frames=240   # about 6.6 s of signal
pos1=777
"$synth" -o "$work/signal.wav" --frames "$frames" --pos1 "$pos1" --silence-before 200 \
  --silence-after 200 2>"$work/synth.txt" || fail "vorlank-synth: $(cat "$work/synth.txt")"

"$WINE_LOADER" "$exe" T >"$work/out" 2>"$work/err" </dev/null &
pid=$!
# The first status line means capture has been started.
wait_for_lines "$work/out" '^#PCMFrames' 1 60
paplay "$work/signal.wav" || fail "paplay could not play into the cable"
# Two more lines after the end of the sound: everything it carried has been decoded.
lines=$(grep -c '^#PCMFrames' "$work/out")
wait_for_lines "$work/out" '^#PCMFrames' $((lines + 2)) 10

send_ctrl_c "$pid" "$work/out"
wait_exit "$pid" 10
pid=""

tr -d '\r' <"$work/out" >"$work/lines"
echo "--- last lines of vorlank.exe T:"
tail -n 4 "$work/lines"
[ "$EXIT_STATUS" -eq 0 ] || fail "exit code $EXIT_STATUS after Ctrl+C, expected 0"
grep -q $'\r$' "$work/out" || fail "lines do not end in \\r\\n"
[ "$(grep -c '' "$work/lines")" -eq "$(grep -c $'\r$' "$work/out")" ] || fail "a line without \\r\\n"
[ "$(grep -cx 'Stopping\.\.\.' "$work/lines")" -eq 1 ] || fail "expected exactly one Stopping... line"
bad=$(grep -vxE '#PCMFrames = [ 0-9]{6} \([ 0-9]{3}/s\)  #PCMErrors = [ 0-9]{6}  Pos1 = [ 0-9]{4}|Stopping\.\.\.' \
  "$work/lines" || true)
[ -z "$bad" ] || fail "unexpected output: $bad"
[ ! -s "$work/err" ] || { cat "$work/err" >&2; fail "unexpected output on standard error"; }

read -r got_frames got_errors got_pos1 < <(grep '^#PCMFrames' "$work/lines" | tail -n 1 |
  sed -E 's/^#PCMFrames = *([0-9]+) .*#PCMErrors = *([0-9]+)  Pos1 = *([0-9]+)$/\1 \2 \3/')
[ "$got_pos1" -eq "$pos1" ] || fail "Pos1 = $got_pos1, expected $pos1"
[ "$got_errors" -eq 0 ] || fail "#PCMErrors = $got_errors on a clean signal, expected 0"
[ "$got_frames" -le "$frames" ] && [ "$got_frames" -ge $((frames - 2)) ] ||
  fail "#PCMFrames = $got_frames, expected $((frames - 2))..$frames"
echo "decoded $got_frames of $frames frames, Pos1 $got_pos1, no errors; Ctrl+C ended it with code 0"
