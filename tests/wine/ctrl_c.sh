#!/usr/bin/env bash
# Usage: scripts/with-pulse tests/wine/ctrl_c.sh VORLANK_EXE PREFIX
#
# The Windows build under wine, stopped with SIGINT (which wine hands to the program as a console
# Ctrl+C event) while the cable is silent, in each mode:
#   T                          four zero counters on every line; "Stopping..."; exit code 0
#   L runs.bin 100             "Stopping...", "Writing logfile..."; a file of 400 bytes; exit 0
#   L no-such-folder/runs.bin  the same, then the open error naming the path; exit code 1; on
#                              stderr only the line that the journal went to the temporary folder
set -euo pipefail
. "$(dirname "$0")/lib.sh"
begin_test "VORLANK_EXE PREFIX" "$@"
need_cable
cd "$work"

# Runs vorlank.exe with the given words until its second status line, then sends SIGINT. Leaves
# its output, without "\r", in `lines`, its stderr in `said` and its exit status in EXIT_STATUS.
run_and_interrupt() {
  start_vorlank "$@"
  wait_for_status 2
  stop_with_ctrl_c 10 "$*"
  tr -d '\r' <err >said
}

no_stderr() {
  [ ! -s said ] || { cat said >&2; fail "$*: unexpected output on standard error"; }
}

run_and_interrupt T
no_stderr T
[ "$EXIT_STATUS" -eq 0 ] || fail "T: exit code $EXIT_STATUS, expected 0"
bad=$(grep -vxE '#PCMFrames =      0 \(  0/s\)  #PCMErrors =      0  Pos1 =    0|Stopping\.\.\.' lines || true)
[ -z "$bad" ] || fail "T on silence: unexpected output: $bad"

run_and_interrupt L runs.bin 100
no_stderr L runs.bin 100
[ "$EXIT_STATUS" -eq 0 ] || fail "L: exit code $EXIT_STATUS, expected 0"
bad=$(grep -vxE '#Transitions      0 |Stopping\.\.\.|Writing logfile\.\.\.' lines || true)
[ -z "$bad" ] || fail "L on silence: unexpected output: $bad"
[ "$(tail -n 1 lines)" = "Writing logfile..." ] || fail "L: the last line is not Writing logfile..."
[ "$(stat -c %s runs.bin 2>/dev/null || echo none)" = 400 ] || fail "L: expected a log file of 400 bytes"

run_and_interrupt L no-such-folder/runs.bin 100
[ "$EXIT_STATUS" -eq 1 ] || fail "L into a missing folder: exit code $EXIT_STATUS, expected 1"
[ "$(tail -n 2 lines)" = "$(printf 'Writing logfile...\nERROR opening file "no-such-folder/runs.bin"')" ] ||
  fail "L into a missing folder: the last lines are not the write attempt and the open error"
grep -qxE 'vorlank: cannot create journal "no-such-folder/runs\.bin\.partial" \(No such file or directory\); using ".*runs\.bin\.partial" instead' said &&
  [ "$(grep -c '' said)" -eq 1 ] || { cat said >&2; fail "L into a missing folder: stderr is not the journal's one line"; }
echo "Ctrl+C stops test mode (code 0) and log mode (code 0, or 1 when the file cannot be opened)"
