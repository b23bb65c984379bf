#!/usr/bin/env bash
# Usage: scripts/with-pulse tests/wine/log_journal.sh VORLANK_EXE PREFIX VORLANK_SYNTH E2E_RUNS
#
# The Windows build under wine, where log mode keeps its runs although the usual way out fails:
#   L runs.bin 100 | head -2   the pipe's reader goes: the next line fails to write, the tool stops
#                              as on Ctrl+C (one line on stderr), writes 400 bytes, exit code 0
#   T | head -3                the same in test mode: exit code 0
#   L no-such-folder/runs.bin  on live sound until the log is full: the journal goes to the
#                              Windows temporary folder (stderr says so at once), the log file
#                              fails to open as before (exit code 1), and the journal stays with
#                              every run, equal to the runs the slicer gives offline
#   L full/runs.bin            the same with the log on a 4 KB disk (a tmpfs; root only, skipped
#                              otherwise): the journal beside the log runs out of room, moves to
#                              the temporary folder (stderr says so at once) and keeps every run
#                              there, while the log file fails to write as before (exit code 1)
set -euo pipefail
. "$(dirname "$0")/lib.sh"
begin_test "VORLANK_EXE PREFIX VORLANK_SYNTH E2E_RUNS" "$@"
synth=$(realpath -m "$3")
runs=$(realpath -m "$4")
need_cable
# The journal goes to the prefix's temporary folder, which outlives the test's own.
journal=""
movedJournal=""
remove_at_exit journal movedJournal
cd "$work"

gone='vorlank: standard output is gone \(.*\); stopping'

# Runs vorlank.exe with the given words into `head -n LINES`; leaves the tool's exit status in
# EXIT_STATUS (124: it did not end within 60 s) and its stderr, without "\r", in `said`.
run_into_head() {
  local lines=$1
  shift
  EXIT_STATUS=0
  timeout 60 "$WINE_LOADER" "$exe" "$@" 2>err </dev/null | head -n "$lines" >/dev/null ||
    EXIT_STATUS=${PIPESTATUS[0]}
  tr -d '\r' <err >said
  [ "$(grep -c '' said)" -eq 1 ] && grep -qxE "$gone" said ||
    { cat said >&2; fail "$*: stderr is not the one line about standard output"; }
}

run_into_head 2 L runs.bin 100
[ "$EXIT_STATUS" -eq 0 ] || fail "L | head -2: exit code $EXIT_STATUS, expected 0"
[ "$(stat -c %s runs.bin 2>/dev/null || echo none)" = 400 ] || fail "L | head -2: expected a log file of 400 bytes"
[ ! -e runs.bin.partial ] || fail "L | head -2: the journal is left behind"

run_into_head 3 T
[ "$EXIT_STATUS" -eq 0 ] || fail "T | head -3: exit code $EXIT_STATUS, expected 0"
echo "a closed pipe stops both modes with code 0; the log file is written whole"

# After log_live_sweep into LOG, which must end with exit code 1 after "Writing logfile..." and
# ERROR (the log file's error line): checks that stderr is exactly two lines, FIRST (an extended
# regular expression whose group is the journal's Windows path) and the line that names that
# journal as holding all `capacity` runs, and that it does, equal to the runs the slicer gives
# offline. CASE starts the messages. Leaves the journal's Windows path in `windowsPath` and its
# Linux path in the variable named KEPT (one that the test removes at exit).
expect_whole_journal_kept() {
  local case=$1 log=$2 error=$3 first=$4 kept=$5 size
  tr -d '\r' <err >said
  [ "$EXIT_STATUS" -eq 1 ] || fail "$case: exit code $EXIT_STATUS, expected 1"
  [ "$(tail -n 2 lines)" = "$(printf 'Writing logfile...\n%s "%s"' "$error" "$log")" ] ||
    fail "$case: the last lines are not the write attempt and the $error line"
  windowsPath=$(sed -nE "1s#$first#\\1#p" said)
  [ -n "$windowsPath" ] || { cat said >&2; fail "$case: stderr does not say where the journal went"; }
  [ "$(sed -n 2p said)" = "vorlank: log file \"$log\" is missing or incomplete; its $capacity runs are in journal \"$windowsPath\"" ] ||
    { cat said >&2; fail "$case: stderr does not name the journal that was kept"; }
  [ "$(grep -c '' said)" -eq 2 ] || { cat said >&2; fail "$case: more than two lines on stderr"; }
  printf -v "$kept" '%s' "$("$WINE_LOADER" winepath -u "$windowsPath")"
  size=$(stat -c %s "${!kept}")
  [ "$size" -eq $((capacity * 4)) ] || fail "$case: journal of $size bytes, expected $((capacity * 4))"
  # As in live_log_mode.sh, one gap too short for the tool to see is wine's, not the journal's.
  "$runs" compare --unseen-gap signal.wav "${!kept}" || fail "$case: the journal's runs differ from the offline runs"
  echo "$case: journal $windowsPath of $capacity runs, equal to the offline runs"
}

log_live_sweep no-such-folder/runs.bin
expect_whole_journal_kept "missing folder" no-such-folder/runs.bin "ERROR opening file" \
  '^vorlank: cannot create journal "no-such-folder/runs\.bin\.partial" \(No such file or directory\); using "(.*)" instead$' \
  journal

if [ "$(id -u)" -ne 0 ]; then
  echo "full disk: skipped, mounting a small tmpfs needs root"
  exit 0
fi
mkdir full
mount -t tmpfs -o size=4k vorlank-full full || fail "full disk: cannot mount a tmpfs"
# Lazily, so that it goes even while a failed test's tool still holds its journal there.
trap 'umount -l "$work/full"; end_test' EXIT
# The first sweep still plays after its log filled; this one starts on a quiet cable.
wait "$player" || true
log_live_sweep full/runs.bin
expect_whole_journal_kept "full disk" full/runs.bin "ERROR writing to file" \
  '^vorlank: cannot write journal "full/runs\.bin\.partial" \(No space left on device\); moved it to "(.*)"$' \
  movedJournal
[ "$(ls full)" = runs.bin ] || fail "full disk: the journal is still beside the log"
