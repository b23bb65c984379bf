#!/usr/bin/env bash
# Usage: VORLANK_PULSE_DEFER=1 scripts/with-pulse tests/wine/late_server.sh VORLANK_EXE PREFIX \
#          VORLANK_SYNTH WINMM_PROBE
#
# The Windows build in test mode under wine, started before any sound server runs; the server
# comes a few seconds later. The tool says once that it cannot open the input and then keeps
# trying quietly, about once a second.
#
# Whether it can ever succeed is up to wine: its winmm takes the list of sound devices once, when
# the program starts, and wine 8 never sees a server that comes later (it falls back to its ALSA
# driver, which finds no device, and stays with it). So winmm_probe, a minimal winmm program,
# runs beside the tool from before the server's start and says what winmm itself sees, and a
# second probe started after the server shows that the server is there for a new program:
#   - the tool says it has opened the input: a signal played then is decoded whole;
#   - it has not, and the first probe never saw a device either: wine cannot, and the tool is
#     right to wait; the test says so and passes;
#   - it has not, but the first probe saw the device: the tool failed, and so does the test.
# Either way: exactly one "cannot open" line first, status lines of the exact format throughout,
# and Ctrl+C ends the tool at once (it must not wait for the device) with code 0.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
begin_test "VORLANK_EXE PREFIX VORLANK_SYNTH WINMM_PROBE" "$@"
synth=$(realpath -m "$3")
probe=$(realpath -m "$4")
need_built "$probe"
need_cable_control
[ "${VORLANK_PULSE_DEFER:-0}" = 1 ] || fail "the server must start later: set VORLANK_PULSE_DEFER=1"
probe_pid=""
kill_at_exit probe_pid

frames=120
pos1=654
synthesize --frames "$frames" --pos1 "$pos1" --silence-before 2500 --silence-after 200

cannot='vorlank: cannot open audio input "default": '
opened='vorlank: audio input "default" is open; capture has started'

"$WINE_LOADER" "$probe" 12 >"$work/probe-early" 2>/dev/null </dev/null &
probe_pid=$!
start_vorlank T
wait_for_status 1
wait_for_lines "$work/probe-early" '^devices=' 1 60
"$VORLANK_PULSE_CTL" start
started_lines=$(grep -c '^devices=' "$work/probe-early")
# Several attempts of the tool's, and of the probe's, with the server there.
sleep 4

if tool_errors | grep -qxF "$opened"; then
  before=$(frames_shown)
  play_signal
  wait_for_decoding
  outcome=opened
else
  outcome=waiting
fi
interrupted=$(date +%s%N)
interrupt_test_mode 3
echo "Ctrl+C ended it in $(( ($(date +%s%N) - interrupted) / 1000000 )) ms"
wait_exit "$probe_pid" 30
probe_pid=""
"$WINE_LOADER" "$probe" 1 >"$work/probe-late" 2>/dev/null </dev/null ||
  fail "winmm_probe did not run"
sed -i 's/\r$//' "$work/probe-early" "$work/probe-late"

echo "--- vorlank.exe T, stderr:"
tool_errors
echo "--- winmm_probe started before the server (server started after line $started_lines):"
cat "$work/probe-early"
echo "--- winmm_probe started after it:"
cat "$work/probe-late"

case "$(tool_errors | head -n 1)" in
  "$cannot"?*) ;;
  *) fail "the first line on stderr does not say the input cannot be opened, with a reason" ;;
esac
grep -q '^devices=[1-9][0-9]* open=0$' "$work/probe-late" ||
  fail "a program started after the server does not see it either: the cable is broken"

case "$outcome" in
  opened)
    [ "$(tool_errors | wc -l)" -eq 2 ] || fail "expected two lines on stderr: cannot open, then open"
    expect_signal_decoded "$before" "$frames" "$pos1" " once the input opened"
    echo "the input opened once the server came: $decoded of $frames frames, Pos1 $got_pos1"
    ;;
  waiting)
    [ "$(tool_errors | wc -l)" -eq 1 ] || fail "expected only the cannot-open line on stderr"
    tail -n +$((started_lines + 1)) "$work/probe-early" >"$work/probe-after"
    [ "$(grep -c '' "$work/probe-after")" -ge 3 ] || fail "the probe looked too few times"
    ! grep -qv '^devices=0 ' "$work/probe-after" ||
      fail "winmm saw the server that came later, but the tool did not open it"
    echo "wine's winmm never saw the server that came after the program started (see the probes);"
    echo "the tool said so once, kept waiting quietly, and Ctrl+C ended it with code 0"
    ;;
esac
