#!/usr/bin/env bash
# Usage: scripts/with-pulse tests/wine/live_log_mode.sh VORLANK_EXE PREFIX VORLANK_SYNTH VORLANK_ANALYZE
#
# The Windows build in log mode under wine, on live sound: wine's winmm captures from the private
# PulseAudio cable of scripts/with-pulse while paplay plays a synthesized signal into it, until
# the run log is full and the tool stops by itself.
#
# Checks: "#Transitions %6ld \n" status lines, then "Writing logfile..." as the last line and no
# "Stopping..." (nobody pressed Ctrl+C); exit code 0; a file of exactly capacity x 4 bytes. The
# logged runs are then decoded offline by vorlank-analyze: a log that lost or mangled sound on the
# way through winmm shows decoding errors or too few frames there.
set -euo pipefail
[ $# -eq 4 ] || { echo "usage: $0 VORLANK_EXE PREFIX VORLANK_SYNTH VORLANK_ANALYZE" >&2; exit 2; }
exe=$(realpath -m "$1")
export WINEPREFIX=$(realpath -m "$2")
synth=$(realpath -m "$3")
analyze=$(realpath -m "$4")
. "$(dirname "$0")/lib.sh"
[ -f "$exe" ] || fail "$exe not found; build it with: cmake --preset windows && cmake --build --preset windows"
[ -n "${PULSE_SERVER:-}" ] || fail "no private PulseAudio server; run this under scripts/with-pulse"

work=$(mktemp -d)
pid=""
player=""
cleanup() {
  [ -z "$pid" ] || kill -KILL "$pid" 2>/dev/null || true
  [ -z "$player" ] || kill "$player" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A clean signal carries about 45 runs per frame, so 3000 runs are some 65 frames, under 2 s of
# the 8 s played: the log fills long before the sound ends.
capacity=3000
pos1=345
"$synth" -o "$work/signal.wav" --frames 300 --pos1 "$pos1" 2>"$work/synth.txt" ||
  fail "vorlank-synth: $(cat "$work/synth.txt")"

# The log file is named relative to the working folder, which wine maps to a drive of its own.
cd "$work"
"$WINE_LOADER" "$exe" L runs.bin "$capacity" >out 2>err </dev/null &
pid=$!
wait_for_lines out '^#Transitions' 1 60
paplay signal.wav &
player=$!
wait_exit "$pid" 30
pid=""

tr -d '\r' <out >lines
echo "--- last lines of vorlank.exe L:"
tail -n 3 lines
[ "$EXIT_STATUS" -eq 0 ] || fail "exit code $EXIT_STATUS, expected 0"
[ "$(grep -c '' lines)" -eq "$(grep -c $'\r$' out)" ] || fail "a line without \\r\\n"
! grep -qx 'Stopping\.\.\.' lines || fail "Stopping... printed, but the log filled by itself"
[ "$(tail -n 1 lines)" = "Writing logfile..." ] || fail "the last line is not Writing logfile..."
bad=$(grep -vxE '#Transitions [ 0-9]{6} |Writing logfile\.\.\.' lines || true)
[ -z "$bad" ] || fail "unexpected output: $bad"
[ "$(grep -c '^#Transitions' lines)" -ge 1 ] || fail "no status line"
[ ! -s err ] || { cat err >&2; fail "unexpected output on standard error"; }

[ -f runs.bin ] || fail "no log file written"
size=$(stat -c %s runs.bin)
[ "$size" -eq $((capacity * 4)) ] || fail "log file of $size bytes, expected $((capacity * 4))"

"$analyze" runs.bin >report || fail "vorlank-analyze could not read the log"
echo "--- vorlank-analyze of the log:"
sed -n '1,/^Pos1/p' report
grep -qE '^Input +run log' report || fail "vorlank-analyze did not take the file for a run log"
grep -qE '^Errors +0 ' report || fail "the logged runs decode with errors"
grep -qE "^Pos1 +$pos1 " report || fail "the logged runs do not carry Pos1 $pos1"
frames=$(sed -nE 's/^Frames +([0-9]+) .*/\1/p' report)
[ "${frames:-0}" -ge 55 ] || fail "only ${frames:-0} frames in $capacity logged runs, expected at least 55"
echo "log of $capacity runs, $frames frames without errors, Pos1 $pos1; it stopped by itself with code 0"
