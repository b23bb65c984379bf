#!/usr/bin/env bash
# Usage: tests/wine/analyze_ctrl_c.sh ANALYZE_EXE PREFIX SYNTH
#
# The Windows build of vorlank-analyze reading raw samples from a pipe, interrupted with SIGINT
# (which wine hands to the program as a console Ctrl+C event, as the console hands Ctrl+C to every
# process of a pipeline):
#   one Ctrl+C, then the writer ends   a note on stderr, then the whole report; --json in place;
#                                      exit code 0
#   two Ctrl+C, the writer going on    no --json file and no temporary file left; the exit status
#                                      of a Ctrl+C end, STATUS_CONTROL_C_EXIT (0xC000013A), of
#                                      which a Unix parent sees the low byte, 58
# SYNTH is the Linux build of vorlank-synth, which writes the samples.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
begin_test "ANALYZE_EXE PREFIX SYNTH" "$@"
synth=$(realpath -m "$3")
writer=""
kill_at_exit writer
cd "$work"
"$synth" --raw --frames 40 >signal.raw 2>/dev/null
mkfifo input

# Starts the analyzer on the FIFO, fed by a writer that sends the samples and then stays, and
# sends SIGINT once the analyzer has made its output's temporary file (it is reading then).
start_and_interrupt() {
  (cat signal.raw; exec sleep 120) >input &
  writer=$!
  "$WINE_LOADER" "$exe" --raw - --json r.json <input >out 2>err &
  pid=$!
  local tries=600
  until compgen -G '.r.json.*.tmp' >/dev/null; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || fail "no temporary output file after 60s"
    sleep 0.1
  done
  kill -INT "$pid"
  wait_for_lines err 'interrupted: the report follows when the input ends' 1 20
}

start_and_interrupt
{ kill -TERM "$writer" && wait "$writer"; } 2>/dev/null || true
wait_exit "$pid" 30
pid=""
writer=""
[ "$EXIT_STATUS" -eq 0 ] || { cat err >&2; fail "one Ctrl+C: exit code $EXIT_STATUS, expected 0"; }
grep -q 'Frames        40 (kind A 20, kind B 20)' out || { cat out >&2; fail "one Ctrl+C: no full report"; }
[ -s r.json ] || fail "one Ctrl+C: r.json was not put in place"
rm r.json

start_and_interrupt
kill -INT "$pid"
wait_exit "$pid" 30
pid=""
{ kill -KILL "$writer" && wait "$writer"; } 2>/dev/null || true
writer=""
[ "$EXIT_STATUS" -eq 58 ] || { cat err >&2; fail "two Ctrl+C: exit status $EXIT_STATUS, expected 58"; }
[ ! -e r.json ] || fail "two Ctrl+C: r.json was written"
! compgen -G '.r.json.*' >/dev/null || fail "two Ctrl+C: a temporary file was left: $(ls -a)"
echo "Ctrl+C on a pipe: the first lets the writer end and the report follow; a second ends the run and leaves nothing"
