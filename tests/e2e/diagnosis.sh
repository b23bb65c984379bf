#!/usr/bin/env bash
# What the tool says on stderr while nothing decodes, on the live input. One test-mode and one
# log-mode tool listen together:
#   1. silence: both say the input is silent, within 7 s of their start;
#   2. a 1 kHz square wave: both say there is sound but no sync, within 7 s of its start;
#   3. frames whose every code word is bad: test mode says the frames fail, within 7 s; log mode,
#      which hears sync runs again, says so.
# Then a fresh pair listens to a minute of signal, 30 s clean then 30 s noisy but decodable, and
# says nothing at all. Standard output is status lines in their exact format throughout.
source "$(dirname "$0")/lib.sh"

sox -n -r 44100 -c 1 -b 16 "$WORK/square.wav" synth 12 square 1000 vol 0.5
"$SYNTH" -o "$WORK/bad.wav" -d 12 --bad-words 2>/dev/null
"$SYNTH" -o "$WORK/clean.wav" -d 30 --sweep 2>/dev/null
"$SYNTH" -o "$WORK/noisy.wav" -d 30 --sweep --noise 2500 --seed 3 2>"$WORK/synth.txt"

# The log-mode tool beside the one of lib.sh's start_vorlank; its output in $WORK/log.out, .err.
LPID=""
trap '[ -z "$LPID" ] || kill -KILL "$LPID" 2>/dev/null || true; cleanup' EXIT
start_pair() {
  start_vorlank T
  env --default-signal=INT "$VORLANK" L "$WORK/runs.log" 10000000 >"$WORK/log.out" 2>"$WORK/log.err" &
  LPID=$!
}
stop_pair() {
  kill -INT "$LPID"
  stop_vorlank
  [ "$STATUS" -eq 0 ] || fail "test mode: exit code $STATUS, expected 0"
  wait "$LPID" || fail "log mode: exit code $?, expected 0"
  LPID=""
}

# Waits at most $3 s for a line on stderr file $1 that contains $2; says how long it took from
# $4 (date +%s%N).
said_within() {
  for _ in $(seq $(($3 * 20))); do
    if grep -q -F "$2" "$1"; then
      echo "$(basename "$1"): '$2' after $((($(date +%s%N) - $4) / 1000000)) ms: $(grep -F "$2" "$1")"
      return 0
    fi
    sleep 0.05
  done
  fail "no '$2' in $(basename "$1") within $3 s: $(cat "$1")"
}

# Standard output of each tool: its status lines in their exact format, then the stop.
check_stdout() {
  local bad
  bad=$(grep -vxE '#PCMFrames = [ 0-9]{6} \([ 0-9]{3}/s\)  #PCMErrors = [ 0-9]{6}  Pos1 = [ 0-9]{4}|Stopping\.\.\.' \
    "$WORK/out" || true)
  [ -z "$bad" ] || fail "test mode: unexpected output: $bad"
  bad=$(grep -vxE '#Transitions [ 0-9]{6,} |Stopping\.\.\.|Writing logfile\.\.\.' "$WORK/log.out" || true)
  [ -z "$bad" ] || fail "log mode: unexpected output: $bad"
}

started=$(date +%s%N)
start_pair
said_within "$WORK/err" silent 7 "$started"
said_within "$WORK/log.err" silent 7 "$started"

played=$(date +%s%N)
paplay "$WORK/square.wav" &
said_within "$WORK/err" sync 7 "$played"
said_within "$WORK/log.err" sync 7 "$played"
wait $! || fail "paplay could not play the square wave"

played=$(date +%s%N)
paplay "$WORK/bad.wav" &
said_within "$WORK/err" fail 7 "$played"
said_within "$WORK/log.err" again 7 "$played"
wait $! || fail "paplay could not play the bad frames"
stop_pair
check_stdout
expect_stderr silent sync fail
[ "$(wc -l <"$WORK/log.err")" -eq 3 ] || fail "log mode: expected 3 lines on stderr: $(cat "$WORK/log.err")"

start_pair
wait_for_capture
play "$WORK/clean.wav"
play "$WORK/noisy.wav"
sleep 1
stop_pair
check_stdout
[ ! -s "$WORK/err" ] || fail "test mode: said something of a decodable signal: $(cat "$WORK/err")"
[ ! -s "$WORK/log.err" ] || fail "log mode: said something of a decodable signal: $(cat "$WORK/log.err")"
line=$(grep '^#PCMFrames' "$WORK/out" | tail -n 1)
echo "a minute of clean, then noisy signal: nothing said; last status line: $line"
