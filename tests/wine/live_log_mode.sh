#!/usr/bin/env bash
# Usage: scripts/with-pulse tests/wine/live_log_mode.sh VORLANK_EXE PREFIX VORLANK_SYNTH E2E_RUNS
#
# The Windows build in log mode under wine, on live sound: wine's winmm captures from the private
# PulseAudio cable of scripts/with-pulse while paplay plays a synthesized signal into it, until
# the run log is full and the tool stops by itself.
#
# Checks: "#Transitions %6ld \n" status lines, then "Writing logfile..." as the last line and no
# "Stopping..." (nobody pressed Ctrl+C); exit code 0; a file of exactly capacity x 4 bytes whose
# runs, once capture has settled, equal entry for entry the runs the slicer gives offline for the
# same samples (e2e_runs compare): sound lost or mangled on the way through winmm breaks that, but
# for one gap too short for the tool to see, which wine's record stream leaves now and then when
# the sound server is held up (--unseen-gap).
set -euo pipefail
. "$(dirname "$0")/lib.sh"
begin_test "VORLANK_EXE PREFIX VORLANK_SYNTH E2E_RUNS" "$@"
synth=$(realpath -m "$3")
runs=$(realpath -m "$4")
need_cable
# The log file is named relative to the working folder, which wine maps to a drive of its own.
cd "$work"

log_live_sweep runs.bin
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

"$runs" compare --unseen-gap signal.wav runs.bin || fail "the logged runs differ from the offline runs"
echo "log of $capacity runs equal to the offline runs; it stopped by itself with code 0"
