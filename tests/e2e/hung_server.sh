#!/usr/bin/env bash
# A sound server that hangs (SIGSTOP) must not hang the tool: stopped while it captures from such
# a server, and stopped while it reopens the input from one (the server came back and froze), the
# tool ends at once with exit code 0.
source "$(dirname "$0")/lib.sh"

# Both cable scripts keep their servers' pids in files beside their ctl command.
server_pids() { cat "$(dirname "${VORLANK_PIPEWIRE_CTL:-$VORLANK_PULSE_CTL}")"/*.pid; }
frozen=""
thaw() { [ -z "$frozen" ] || kill -CONT $frozen 2>/dev/null || true; }
trap 'thaw; cleanup' EXIT

start_vorlank T
wait_for_capture
frozen=$(server_pids)
kill -STOP $frozen
sleep 0.5
stop_vorlank TERM
echo "stopped capturing from a hung server in $STOP_MS ms"
[ "$STATUS" -eq 0 ] || fail "exit code $STATUS, expected 0"
[ "$STOP_MS" -le 3000 ] || fail "took $STOP_MS ms to stop"
thaw

start_vorlank T
wait_for_capture
cable_ctl stop
wait_for_line 'is gone' 5
cable_ctl start
frozen=$(server_pids)
kill -STOP $frozen
sleep 2  # the next attempt to reopen connects to the frozen server and waits for its answer
stop_vorlank TERM
echo "stopped reopening from a hung server in $STOP_MS ms"
[ "$STATUS" -eq 0 ] || fail "exit code $STATUS, expected 0"
[ "$STOP_MS" -le 3000 ] || fail "took $STOP_MS ms to stop"
