# shellcheck shell=bash
# Shared by the wine tests: how to reach Debian's wine64 loader with a private prefix, and small
# helpers for running the Windows build of vorlank beside a shell script. Sourced, not run.
#
# WINEPREFIX must be set before wine runs: by the caller (the prefix that tests/wine/prefix.sh
# created), by begin_test from a test's command line, or by use_shared_prefix. Wine writes "\r\n"
# for "\n" on a Windows program's text-mode standard output, as Windows does, so the tests compare
# lines with the "\r" in place.

# Debian's wine64 package puts the loader here; `wine64` on PATH covers other layouts.
if [ -x /usr/lib/wine/wine64 ]; then
  WINE_LOADER=/usr/lib/wine/wine64
  WINE_SERVER=/usr/lib/wine/wineserver64
else
  WINE_LOADER=$(command -v wine64 || command -v wine || true)
  WINE_SERVER=$(command -v wineserver || true)
fi
if [ -z "$WINE_LOADER" ]; then
  echo "wine: no wine64 loader found; run scripts/install-deps" >&2
  exit 1
fi

# No debug chatter on stderr; no Mono or Gecko installer when the prefix is created (a console
# tool needs neither, and they would want a display).
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# For the tools that run Windows programs outside the wine tests (run-exe, with-wineserver): the
# prefix is $WINEPREFIX when set, otherwise one private to this user under $TMPDIR, created on
# first use (under a lock, since ctest may start several programs at once).
use_shared_prefix() {
  export WINEPREFIX=${WINEPREFIX:-${TMPDIR:-/tmp}/vorlank-wine-$(id -u)}
  [ ! -f "$WINEPREFIX/system.reg" ] || return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  [ -f "$WINEPREFIX/system.reg" ] || "$(dirname "${BASH_SOURCE[0]}")/prefix.sh" create "$WINEPREFIX" >&2
  exec 9>&-
}

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Waits until FILE holds at least COUNT lines matching PATTERN (grep -E), or fails after SECONDS.
wait_for_lines() {
  local file=$1 pattern=$2 count=$3 seconds=$4
  local tries=$((seconds * 10))
  while [ "$(grep -cE "$pattern" "$file" 2>/dev/null || true)" -lt "$count" ]; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || fail "after ${seconds}s fewer than $count lines matching '$pattern' in $file"
    sleep 0.1
  done
}

# Waits for process PID, a child of this shell, to end, at most SECONDS; then sets EXIT_STATUS
# to its exit status. A process that does not end in time is killed and the test fails.
wait_exit() {
  local pid=$1 seconds=$2
  local tries=$((seconds * 10))
  while kill -0 "$pid" 2>/dev/null; do
    tries=$((tries - 1))
    if [ "$tries" -le 0 ]; then
      kill -KILL "$pid" 2>/dev/null || true
      fail "process $pid still running after ${seconds}s"
    fi
    sleep 0.1
  done
  EXIT_STATUS=0
  wait "$pid" || EXIT_STATUS=$?
}

# Ctrl+C for process PID, whose standard output goes to file OUT: SIGINT, which wine turns into a
# console Ctrl+C event. Now and then wine 8 drops a SIGINT without raising the event (about one
# run in fifteen, with the tool of today as with the one before its capture threads changed), so
# the program never sees it; when no "Stopping..." shows within 2 s, the signal is sent once more.
# A program that saw the event and then does not end still fails its test.
send_ctrl_c() {
  local pid=$1 out=$2
  kill -INT "$pid"
  for _ in $(seq 20); do
    grep -q '^Stopping\.\.\.' "$out" 2>/dev/null && return 0
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  echo "wine dropped the SIGINT; sending it once more"
  kill -INT "$pid" 2>/dev/null || true
}

# A wine test is called as  TEST.sh EXE PREFIX [MORE...]: the Windows program it runs, the wine
# prefix, then whatever else it needs. The helpers below work on the variables begin_test sets:
# `exe` (the program), `work` (the test's temporary folder) and `pid` (the running program).

# Checks a test's command line against USAGE, the words its usage names after the script (e.g.
# "VORLANK_EXE PREFIX VORLANK_SYNTH"): exit code 2 when their number differs. Then sets `exe` and
# WINEPREFIX from the first two, absolute (a test may change folders), fails when the program has
# not been built, and makes `work`. At exit, `work` is removed, and with it whatever the test
# named to kill_at_exit and remove_at_exit. The words after the first two are the test's to name.
begin_test() {
  local usage=$1 names
  shift
  read -r -a names <<<"$usage"
  [ $# -eq "${#names[@]}" ] || { echo "usage: $0 $usage" >&2; exit 2; }
  exe=$(realpath -m "$1")
  WINEPREFIX=$(realpath -m "$2")
  export WINEPREFIX
  need_built "$exe"
  work=$(mktemp -d)
  pid=""
  kill_on_exit=(pid)
  remove_on_exit=()
  trap end_test EXIT
}

# Names the variables that hold, when the test ends, a process to kill (kill_at_exit) or a file to
# remove (remove_at_exit). A variable empty by then names nothing: a test empties the one of a
# process it has waited for, since that pid may belong to another process by then.
kill_at_exit() { kill_on_exit+=("$@"); }
remove_at_exit() { remove_on_exit+=("$@"); }

# The exit trap of begin_test. Each process is waited for with standard error closed, so that
# the shell's note of a job it killed stays out of the test's output.
end_test() {
  local name
  for name in "${kill_on_exit[@]}"; do
    [ -z "${!name:-}" ] || { kill -KILL "${!name}" && wait "${!name}"; } 2>/dev/null || true
  done
  for name in "${remove_on_exit[@]}"; do
    [ -z "${!name:-}" ] || rm -f "${!name}"
  done
  rm -rf "$work"
}

# Fails unless every FILE, a program of the Windows build, is there: a missing build fails the
# test, it never skips it.
need_built() {
  local file
  for file in "$@"; do
    [ -f "$file" ] || fail "$file not found; build it with: cmake --preset windows && cmake --build --preset windows"
  done
}

# Fails unless the test runs under scripts/with-pulse, whose private PulseAudio server wine's
# winmm and paplay reach through PULSE_SERVER.
need_cable() {
  [ -n "${PULSE_SERVER:-}" ] || fail "no private PulseAudio server; run this under scripts/with-pulse"
}

# need_cable, and VORLANK_PULSE_CTL too, which takes that server down and brings it back.
need_cable_control() {
  need_cable
  [ -n "${VORLANK_PULSE_CTL:-}" ] || fail "no PulseAudio control; run this under scripts/with-pulse"
}

# Writes the test's signal, $work/signal.wav, with the given options of vorlank-synth (`synth`,
# the Linux build the test names); the summary line (samples=..., frames=...) stays in
# $work/synth.txt.
synthesize() {
  "${synth:?}" -o "$work/signal.wav" "$@" 2>"$work/synth.txt" ||
    fail "vorlank-synth: $(cat "$work/synth.txt")"
}

# Plays $work/signal.wav into the cable; returns once the last sample has been played.
play_signal() {
  paplay "$work/signal.wav" || fail "paplay could not play into the cable"
}

# Starts the Windows build of vorlank in the background with the given words, its standard output
# in $work/out and its standard error in $work/err; its pid goes to `pid`.
start_vorlank() {
  "$WINE_LOADER" "$exe" "$@" >"$work/out" 2>"$work/err" </dev/null &
  pid=$!
}

# Waits until the tool has written COUNT status lines, at most 60 s: wine takes seconds to start
# a program on a loaded machine. The first one means capture has been started (or, with no input
# to open, tried).
wait_for_status() {
  wait_for_lines "$work/out" '^#' "$1" 60
}

# Waits for two more status lines than test mode has written so far: then everything the sound
# played until now carried has been decoded.
wait_for_decoding() {
  local lines
  lines=$(grep -c '^#PCMFrames' "$work/out" || true)
  wait_for_lines "$work/out" '^#PCMFrames' $((lines + 2)) 10
}

# #PCMFrames on the last status line so far, 0 before the first.
frames_shown() {
  local frames
  frames=$(grep -a '^#PCMFrames' "$work/out" | tail -n 1 | sed -E 's/^#PCMFrames = *([0-9]+) .*/\1/')
  echo "${frames:-0}"
}

# The tool's own lines on standard error, without "\r". When no sound server runs as a program
# starts, wine falls back from its PulseAudio driver to its ALSA driver, whose libasound writes
# "ALSA lib ..." lines there of its own; they are not the tool's and are left out.
tool_errors() {
  tr -d '\r' <"$work/err" | grep -v '^ALSA lib ' || true
}

# Ctrl+C (SIGINT, a console Ctrl+C event for the program) for the tool started with WORDS, which
# then has SECONDS to end; sets EXIT_STATUS, shows the last lines of its standard output and
# leaves them all, without "\r", in $work/lines. Checks what every mode writes when stopped so:
# each line ended by "\r\n", and exactly one "Stopping...".
stop_with_ctrl_c() {
  local seconds=$1 words=$2
  send_ctrl_c "$pid" "$work/out"
  wait_exit "$pid" "$seconds"
  pid=""
  tr -d '\r' <"$work/out" >"$work/lines"
  echo "--- last lines of vorlank.exe $words:"
  tail -n 4 "$work/lines"
  [ "$(grep -c '' "$work/lines")" -eq "$(grep -c $'\r$' "$work/out")" ] ||
    fail "$words: a line without \\r\\n"
  [ "$(grep -cx 'Stopping\.\.\.' "$work/lines")" -eq 1 ] ||
    fail "$words: expected exactly one Stopping... line"
}

# Ctrl+C for the tool in test mode, which then has SECONDS to end, with the checks of
# stop_with_ctrl_c; besides, every other line is a status line of the exact format, and the exit
# code is 0.
interrupt_test_mode() {
  stop_with_ctrl_c "$1" T
  [ "$EXIT_STATUS" -eq 0 ] || fail "exit code $EXIT_STATUS after Ctrl+C, expected 0"
  local bad
  bad=$(grep -vxE '#PCMFrames = [ 0-9]{6} \([ 0-9]{3}/s\)  #PCMErrors = [ 0-9]{6}  Pos1 = [ 0-9]{4}|Stopping\.\.\.' \
    "$work/lines" || true)
  [ -z "$bad" ] || fail "unexpected output: $bad"
}

# The counters of the last status line in $work/lines: got_frames, got_errors and got_pos1.
# shellcheck disable=SC2034  # they are the caller's
read_last_status() {
  read -r got_frames got_errors got_pos1 < <(grep '^#PCMFrames' "$work/lines" | tail -n 1 |
    sed -E 's/^#PCMFrames = *([0-9]+) .*#PCMErrors = *([0-9]+)  Pos1 = *([0-9]+)$/\1 \2 \3/') ||
    fail "no status line"
}

# Checks the last status line against a signal of FRAMES frames that encode POS1, played after
# the tool had counted BEFORE frames: Pos1 as encoded, and all of the signal's frames but at most
# two (the first may pass before the decoder has seen a clean sync). WHEN ends the message of a
# failure. Sets what read_last_status sets, and `decoded`.
expect_signal_decoded() {
  local before=$1 frames=$2 pos1=$3 when=$4
  read_last_status
  decoded=$((got_frames - before))
  [ "$got_pos1" -eq "$pos1" ] || fail "Pos1 = $got_pos1, expected $pos1"
  { [ "$decoded" -le "$frames" ] && [ "$decoded" -ge $((frames - 2)) ]; } ||
    fail "$decoded frames decoded$when, expected $((frames - 2))..$frames"
}

# Log mode on live sound until the log is full, into FILE: synthesizes a sweep of 6 s and starts
# the tool with `L FILE N`, N a third of the sweep's runs (counted by e2e_runs, `runs`) so that
# the log fills while the sound still plays; plays the sweep once capture has started and gives
# the tool 30 s to stop by itself. Sets `capacity` (N) and EXIT_STATUS, and leaves the tool's
# standard output, without "\r", in $work/lines.
# shellcheck disable=SC2034  # `player` is read by name, by end_test
log_live_sweep() {
  synthesize --duration 6 --sweep
  capacity=$(($("${runs:?}" count "$work/signal.wav") / 3))
  start_vorlank L "$1" "$capacity"
  wait_for_status 1
  paplay "$work/signal.wav" &
  player=$!
  kill_at_exit player
  wait_exit "$pid" 30
  pid=""
  tr -d '\r' <"$work/out" >"$work/lines"
}
