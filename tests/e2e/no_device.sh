#!/usr/bin/env bash
# No capture device at all: one line on stderr names the device and ALSA's reason, and the
# attempts to open it again (about once a second) say nothing more; standard output is exactly
# the zero status line every 500 ms until the tool is stopped (here by SIGTERM), exit code 0.
# Runs without a sound server, with an ALSA configuration whose default device does not exist.
source "$(dirname "$0")/lib.sh"

printf 'pcm.!default {\n  type hw\n  card 99\n}\n' >"$WORK/asound.conf"
unset PULSE_SERVER
export ALSA_CONFIG_PATH="$WORK/asound.conf"

start_vorlank T
sleep 2.5
stop_vorlank TERM
[ "$STATUS" -eq 0 ] || fail "exit code $STATUS, expected 0"

[ "$(wc -l <"$WORK/err")" -eq 1 ] || fail "expected exactly one line on stderr"
grep -q '^vorlank: cannot open audio input "default": .' "$WORK/err" ||
  fail "stderr does not name the device and the reason: $(cat "$WORK/err")"
zero='#PCMFrames =      0 (  0/s)  #PCMErrors =      0  Pos1 =    0'
[ "$(grep -c -x -F "$zero" "$WORK/out")" -ge 4 ] || fail "fewer than four zero status lines"
[ "$(grep -v -x -F "$zero" "$WORK/out")" = "Stopping..." ] || fail "unexpected output: $(cat "$WORK/out")"
