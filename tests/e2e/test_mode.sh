#!/usr/bin/env bash
# Test mode on the live input: a Pos1 sweep played into the cable is decoded frame by frame.
# The decoded frame count must fall in a small window below the encoded one (capture may pick the
# signal up a frame late), with no errors on a clean signal, and the last Pos1 shown must be the
# last one encoded.
source "$(dirname "$0")/lib.sh"

"$SYNTH" -o "$WORK/signal.wav" -d 4 --sweep --sweep-step 8 --silence-before 200 2>"$WORK/synth.txt"
frames=$(summary_value frames)
lastPos1=$(summary_value pos1Last)

start_vorlank T
wait_for_capture
play "$WORK/signal.wav"
sleep 1.5  # the end of the sound reaches the monitor and a status line shows it
stop_vorlank
[ "$STATUS" -eq 0 ] || fail "exit code $STATUS, expected 0"
[ ! -s "$WORK/err" ] || fail "unexpected messages on stderr"

# Every line is a status line in its exact format, then "Stopping..." once, last.
[ "$(tail -n 1 "$WORK/out")" = "Stopping..." ] || fail "the last line is not Stopping..."
[ "$(grep -c '^Stopping\.\.\.$' "$WORK/out")" -eq 1 ] || fail "Stopping... printed more than once"
status='^#PCMFrames = +([0-9]+) \( *([0-9]+)/s\)  #PCMErrors = +([0-9]+)  Pos1 = +([0-9]+)$'
lines=0
prevPos1=0
sawRate=0
while IFS= read -r line; do
  [ "$line" = "Stopping..." ] && continue
  [[ $line =~ $status ]] || fail "not a status line: '$line'"
  f=${BASH_REMATCH[1]} r=${BASH_REMATCH[2]} e=${BASH_REMATCH[3]} p=${BASH_REMATCH[4]}
  [ "$line" = "$(printf '#PCMFrames = %6d (%3d/s)  #PCMErrors = %6d  Pos1 = %4d' "$f" "$r" "$e" "$p")" ] ||
    fail "status line not in its exact format: '$line'"
  [ "$e" -eq 0 ] || fail "decoding errors on a clean signal: '$line'"
  [ "$p" -ge "$prevPos1" ] || fail "Pos1 went back from $prevPos1 during an upward sweep: '$line'"
  [ "$r" -gt 0 ] && sawRate=1
  prevPos1=$p
  lastFrames=$f
  lines=$((lines + 1))
done <"$WORK/out"

[ "$lines" -ge 8 ] || fail "only $lines status lines in over 5 s"
[ "$sawRate" -eq 1 ] || fail "no status line showed a frame rate"
[ "$lastFrames" -le "$frames" ] && [ "$lastFrames" -ge $((frames - 2)) ] ||
  fail "decoded $lastFrames frames, encoded $frames"
[ "$prevPos1" -eq "$lastPos1" ] || fail "last Pos1 shown is $prevPos1, encoded $lastPos1"
echo "decoded $lastFrames of $frames frames, no errors, last Pos1 $prevPos1"
