#!/usr/bin/env bash
# The whole tool is stopped for 1.5 s (SIGSTOP, as a machine that falls behind) while a signal
# plays, then continued. Either nothing is lost (the sound server kept the samples), or the loss
# is reported in one line whose sample count matches the frames that went missing.
source "$(dirname "$0")/lib.sh"

"$SYNTH" -o "$WORK/signal.wav" -d 6 --sweep 2>"$WORK/synth.txt"
frames=$(summary_value frames)
samplesPerFrame=$(($(summary_value samples) / frames))

start_vorlank T
wait_for_capture
play "$WORK/signal.wav" &
player=$!
sleep 2
kill -STOP "$VPID"
sleep 1.5
kill -CONT "$VPID"
wait "$player" || fail "paplay could not play the signal"
sleep 1.5
stop_vorlank
[ "$STATUS" -eq 0 ] || fail "exit code $STATUS, expected 0"

if [ ! -s "$WORK/err" ]; then
  expect_all_frames
  exit 0
fi
expect_stderr '^vorlank: audio input overrun, about [0-9]+ samples lost$'
lost=$(sed -n 's/.*about \([0-9]*\) samples.*/\1/p' "$WORK/err")
decoded=$(grep '^#PCMFrames' "$WORK/out" | tail -n 1 | awk '{print $3}')
missing=$((frames - decoded))
reported=$((lost / samplesPerFrame))
echo "lost $missing of $frames frames; reported $lost samples, $reported frames"
# The estimate may be off by the device's ring buffer (about 93 ms, 4 frames) and the frame cut
# at either end of the gap.
[ "$missing" -ge 30 ] || fail "reported a loss of $lost samples, but only $missing frames are missing"
diff=$((missing > reported ? missing - reported : reported - missing))
[ "$diff" -le 6 ] || fail "reported $reported frames lost, $missing are missing"
