# Shared by the end-to-end tests, which run the real tool on a real audio stack: each test runs
# under scripts/with-pulse, so ALSA's "default" capture device is the monitor of a private null
# sink, and whatever paplay plays into that sink reaches `vorlank` bit for bit.
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

# Stops the tool as Ctrl+C would and waits for it; sets STATUS.
stop_vorlank() {
  kill -INT "$VPID"
  wait_for_exit 10
}

# Plays a WAV file into the cable and returns when the last sample has been played.
play() {
  paplay "$1" || fail "paplay could not play $1"
}

# Value of key=N in the synthesizer's summary line.
summary_value() {
  sed -n "s/.*\\b$1=\\([0-9]*\\).*/\\1/p" "$WORK/synth.txt"
}
