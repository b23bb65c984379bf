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
. "$(dirname "$0")/lib.sh"
begin_test "VORLANK_EXE PREFIX VORLANK_SYNTH" "$@"
synth=$(realpath -m "$3")
need_cable

frames=240   # about 6.6 s of signal
pos1=777
synthesize --frames "$frames" --pos1 "$pos1" --silence-before 200 --silence-after 200

start_vorlank T
wait_for_status 1
play_signal
wait_for_decoding
interrupt_test_mode 10

grep -q $'\r$' "$work/out" || fail "lines do not end in \\r\\n"
[ ! -s "$work/err" ] || { cat "$work/err" >&2; fail "unexpected output on standard error"; }
expect_signal_decoded 0 "$frames" "$pos1" ""
[ "$got_errors" -eq 0 ] || fail "#PCMErrors = $got_errors on a clean signal, expected 0"
echo "decoded $got_frames of $frames frames, Pos1 $got_pos1, no errors; Ctrl+C ended it with code 0"
