#!/usr/bin/env bash
# The tool starts before the sound server (run with the cable's DEFER variable set). One line says
# the input cannot be opened; the tool tries again about once a second without another word, and
# when the server comes it says capture has started and decodes what is played from then on.
source "$(dirname "$0")/lib.sh"

"$SYNTH" -o "$WORK/signal.wav" -d 3 --sweep --silence-before 200 2>"$WORK/synth.txt"

start_vorlank T
sleep 2.5
expect_stderr '^vorlank: cannot open audio input "default": .+$'

cable_ctl start
wait_for_line 'is open' 5
echo "capture started $WAITED_MS ms after the server"
wait_for_capture
play "$WORK/signal.wav"
sleep 1.5
stop_vorlank
[ "$STATUS" -eq 0 ] || fail "exit code $STATUS, expected 0"

expect_stderr '^vorlank: cannot open audio input "default": .+$' \
  '^vorlank: audio input "default" is open; capture has started$'
expect_all_frames
