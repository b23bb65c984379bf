#!/usr/bin/env bash
# The tool's whole wiring (app/main.cpp) over the fake sound input of fake_sound_input.cpp, which
# plays a synthesized signal bit for bit, eight times faster than real time, then silence:
#   log_mode   the log fills by itself with exactly the runs the slicer cuts offline
#   test_mode  every frame of a clean signal counts and none fails; SIGINT ends it within 1 s
#   silence    the diagnosis says once on stderr that the input is silent; SIGINT as above
# Called as:  app_wiring_test.sh vorlank_fake_input VORLANK_SYNTH E2E_RUNS CASE
source "$(dirname "$0")/e2e/lib.sh"
CASE=$4
export VORLANK_FAKE_SPEED=8
export VORLANK_FAKE_INPUT="$WORK/signal.raw"

: >"$VORLANK_FAKE_INPUT"
if [ "$CASE" != silence ]; then
  synth_words=(-d 3 --sweep --sweep-step 8 --silence-before 200)
  "$SYNTH" -o "$WORK/signal.wav" "${synth_words[@]}" 2>"$WORK/synth.txt"
  "$SYNTH" --raw "${synth_words[@]}" >"$VORLANK_FAKE_INPUT" 2>/dev/null
fi

# Stops the tool with SIGINT; it must end with code 0 within a second: the status loop ends its
# period (at most 500 ms), the fake input its block (about 1.5 ms at this speed).
stop_promptly() {
  stop_vorlank INT
  [ "$STATUS" -eq 0 ] || fail "exit code $STATUS, expected 0"
  [ "$STOP_MS" -lt 1000 ] || fail "took $STOP_MS ms to stop"
}

# Standard output of test mode: status lines in their exact format, then "Stopping..." once, last.
expect_test_mode_stdout() {
  local bad
  bad=$(head -n -1 "$WORK/out" |
    grep -vxE '#PCMFrames = [ 0-9]{6} \([ 0-9]{3}/s\)  #PCMErrors = [ 0-9]{6}  Pos1 = [ 0-9]{4}' || true)
  [ -z "$bad" ] || fail "not a status line: $bad"
  [ "$(tail -n 1 "$WORK/out")" = "Stopping..." ] || fail "the last line is not Stopping..."
}

case $CASE in
log_mode)
  total=$("$RUNS" count "$WORK/signal.wav")
  capacity=$((total * 2 / 3))
  start_vorlank L "$WORK/runs.log" "$capacity"
  wait_for_exit 10
  [ "$STATUS" -eq 0 ] || fail "exit code $STATUS, expected 0"
  [ ! -s "$WORK/err" ] || fail "unexpected messages on stderr"
  bad=$(grep -vxE '#Transitions [ 0-9]{6,} |Writing logfile\.\.\.' "$WORK/out" || true)
  [ -z "$bad" ] || fail "unexpected output: $bad"
  [ "$(tail -n 1 "$WORK/out")" = "Writing logfile..." ] || fail "the last line is not Writing logfile..."
  size=$(stat -c %s "$WORK/runs.log")
  [ "$size" -eq $((capacity * 4)) ] || fail "log file has $size bytes, expected $((capacity * 4))"
  # Capture begins at the first sample: the log is the offline runs from the first on.
  said=$("$RUNS" compare "$WORK/signal.wav" "$WORK/runs.log") || fail "logged runs differ from the offline runs"
  [[ $said == "live entries 0..$((capacity - 1)) equal offline runs 0..$((capacity - 1)) (0 settling entries)" ]] ||
    fail "the log is not the offline runs from the first: $said"
  ;;
test_mode)
  frames=$(summary_value frames)
  start_vorlank T
  for _ in $(seq 100); do
    grep -qE "^#PCMFrames = +$frames " "$WORK/out" && break
    sleep 0.1
  done
  stop_promptly
  [ ! -s "$WORK/err" ] || fail "unexpected messages on stderr"
  expect_test_mode_stdout
  last=$(grep '^#PCMFrames' "$WORK/out" | tail -n 1)
  [[ $last =~ ^#PCMFrames\ =\ +$frames\ .*#PCMErrors\ =\ +0\ +Pos1\ =\ +$(summary_value pos1Last)$ ]] ||
    fail "last status line '$last', expected $frames frames, no error, Pos1 $(summary_value pos1Last)"
  ;;
silence)
  start_vorlank T
  wait_for_line "input is silent" 10
  sleep 1.5 # three more judgements, which must not say it again
  stop_promptly
  expect_test_mode_stdout
  # The one line of app/diagnosis.h's kDiagnosisTexts.silent.
  expect_stderr '^vorlank: no signal: the input is silent '
  ;;
*) fail "no case '$CASE'" ;;
esac
echo "$CASE: ok"
