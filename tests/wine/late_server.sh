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
[ $# -eq 4 ] || { echo "usage: $0 VORLANK_EXE PREFIX VORLANK_SYNTH WINMM_PROBE" >&2; exit 2; }
exe=$1
export WINEPREFIX=$2
synth=$3
probe=$4
. "$(dirname "$0")/lib.sh"
for file in "$exe" "$probe"; do
  [ -f "$file" ] || fail "$file not found; build it with: cmake --preset windows && cmake --build --preset windows"
done
[ -n "${VORLANK_PULSE_CTL:-}" ] || fail "no PulseAudio control; run this under scripts/with-pulse"
[ "${VORLANK_PULSE_DEFER:-0}" = 1 ] || fail "the server must start later: set VORLANK_PULSE_DEFER=1"

work=$(mktemp -d)
pid=""
probe_pid=""
cleanup() {
  [ -z "$pid" ] || kill -KILL "$pid" 2>/dev/null || true
  [ -z "$probe_pid" ] || kill -KILL "$probe_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

frames=120
pos1=654
"$synth" -o "$work/signal.wav" --frames "$frames" --pos1 "$pos1" --silence-before 2500 \
  --silence-after 200 2>"$work/synth.txt" || fail "vorlank-synth: $(cat "$work/synth.txt")"

cannot='vorlank: cannot open audio input "default": '
opened='vorlank: audio input "default" is open; capture has started'

"$WINE_LOADER" "$probe" 12 >"$work/probe-early" 2>/dev/null </dev/null &
probe_pid=$!
start_vorlank T
wait_for_lines "$work/out" '^#PCMFrames' 1 60
wait_for_lines "$work/probe-early" '^devices=' 1 60
"$VORLANK_PULSE_CTL" start
started_lines=$(grep -c '^devices=' "$work/probe-early")
# Several attempts of the tool's, and of the probe's, with the server there.
sleep 4

if tool_errors | grep -qxF "$opened"; then
  before=$(frames_shown)
  paplay "$work/signal.wav" || fail "paplay could not play into the cable"
  lines=$(grep -c '^#PCMFrames' "$work/out")
  wait_for_lines "$work/out" '^#PCMFrames' $((lines + 2)) 10
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
    read -r got_frames got_pos1 < <(grep '^#PCMFrames' "$work/lines" | tail -n 1 |
      sed -E 's/^#PCMFrames = *([0-9]+) .*Pos1 = *([0-9]+)$/\1 \2/')
    decoded=$((got_frames - before))
    [ "$got_pos1" -eq "$pos1" ] || fail "Pos1 = $got_pos1, expected $pos1"
    [ "$decoded" -le "$frames" ] && [ "$decoded" -ge $((frames - 2)) ] ||
      fail "$decoded frames decoded once the input opened, expected $((frames - 2))..$frames"
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
