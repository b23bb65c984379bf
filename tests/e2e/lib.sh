# Shared by the end-to-end tests, which run the real tool on a real audio stack: each test runs
# under scripts/with-pulse (ALSA's "default" capture device is the monitor of a private
# PulseAudio null sink) or scripts/with-pipewire (the same through pipewire-alsa and a private
# PipeWire server), and whatever paplay plays into the cable reaches `vorlank` bit for bit.
#
# Every test is called as:  TEST.sh VORLANK VORLANK_SYNTH E2E_RUNS
set -euo pipefail

VORLANK=$1
SYNTH=$2
RUNS=$3
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vorlank-e2e.XXXXXX")
VPID=""

cleanup() {
  if [ -n "$VPID" ] && kill -0 "$VPID" 2>/dev/null; then kill -KILL "$VPID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  for f in out err; do
    if [ -s "$WORK/$f" ]; then echo "--- vorlank std$f:" >&2; tail -n 20 "$WORK/$f" >&2; fi
  done
  exit 1
}

# Starts the tool in the background with the given words; its output goes to $WORK/out and
# $WORK/err. A background job of a non-interactive shell inherits SIGINT as ignored, and the tool
# rightly leaves an inherited ignore alone, so the default action is restored for it here: the
# tests stop it with SIGINT, as Ctrl+C would.
start_vorlank() {
  env --default-signal=INT "$VORLANK" "$@" >"$WORK/out" 2>"$WORK/err" &
  VPID=$!
}

# Waits until the tool's record stream is connected to the server, so that nothing played from
# now on is missed.
wait_for_capture() {
  for _ in $(seq 200); do
    if [ -n "$(pactl list short source-outputs 2>/dev/null)" ]; then return 0; fi
    kill -0 "$VPID" 2>/dev/null || fail "vorlank ended before it began to capture"
    sleep 0.05
  done
  fail "vorlank did not begin to capture within 10 s"
}

# Waits at most $1 seconds for the tool to end by itself; sets STATUS to its exit code.
wait_for_exit() {
  local tenths=$(($1 * 10))
  for _ in $(seq "$tenths"); do
    kill -0 "$VPID" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$VPID" 2>/dev/null && fail "vorlank did not end within $1 s"
  STATUS=0
  wait "$VPID" || STATUS=$?
  VPID=""
}

# Stops the tool with signal $1 (default INT, as Ctrl+C) and waits for it; sets STATUS, and
# STOP_MS to the milliseconds it took to end.
stop_vorlank() {
  local start
  start=$(date +%s%N)
  kill -"${1:-INT}" "$VPID"
  wait_for_exit 10
  STOP_MS=$((($(date +%s%N) - start) / 1000000))
}

# Takes the cable's sound server down (stop) or brings it back (start), whichever cable runs.
cable_ctl() {
  "${VORLANK_PIPEWIRE_CTL:-$VORLANK_PULSE_CTL}" "$1"
}

# Waits at most $2 seconds for a line on the tool's stderr that contains $1; sets WAITED_MS.
wait_for_line() {
  local start
  start=$(date +%s%N)
  for _ in $(seq $(($2 * 20))); do
    if grep -q -F "$1" "$WORK/err"; then
      WAITED_MS=$((($(date +%s%N) - start) / 1000000))
      return 0
    fi
    sleep 0.05
  done
  fail "no '$1' on stderr within $2 s"
}

# CPU time the tool has used so far, in clock ticks (user + system), and its resident memory in kB.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$VPID/stat"; }
rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$VPID/status"; }

status_lines() { grep -c '^#PCMFrames' "$WORK/out" || true; }

# Checks that the last status line counts the frames of the signal (the synthesizer's summary):
# all of them or up to two fewer (capture may pick the signal up a frame late), no errors.
expect_all_frames() {
  local line frames
  frames=$(summary_value frames)
  line=$(grep '^#PCMFrames' "$WORK/out" | tail -n 1)
  [[ $line =~ ^#PCMFrames\ =\ +([0-9]+)\ .*#PCMErrors\ =\ +([0-9]+) ]] || fail "no status line"
  [ "${BASH_REMATCH[1]}" -le "$frames" ] && [ "${BASH_REMATCH[1]}" -ge $((frames - 2)) ] ||
    fail "decoded ${BASH_REMATCH[1]} frames, played $frames"
  [ "${BASH_REMATCH[2]}" -eq 0 ] || fail "decoding errors: $line"
  echo "decoded ${BASH_REMATCH[1]} of $frames frames played"
}

# Checks that stderr holds exactly the lines given, each an extended regular expression.
expect_stderr() {
  [ "$(wc -l <"$WORK/err")" -eq $# ] || fail "expected $# lines on stderr"
  local i=1 pattern
  for pattern in "$@"; do
    sed -n "${i}p" "$WORK/err" | grep -q -E "$pattern" || fail "stderr line $i is not /$pattern/"
    i=$((i + 1))
  done
}

# Plays a WAV file into the cable and returns when the last sample has been played.
play() {
  paplay "$1" || fail "paplay could not play $1"
}

# Value of key=N in the synthesizer's summary line.
summary_value() {
  sed -n "s/.*\\b$1=\\([0-9]*\\).*/\\1/p" "$WORK/synth.txt"
}
