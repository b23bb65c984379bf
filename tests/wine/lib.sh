# Shared by the wine tests: how to reach Debian's wine64 loader with a private prefix, and small
# helpers for running the Windows build of vorlank beside a shell script. Sourced, not run.
#
# WINEPREFIX must be set by the caller (the prefix that tests/wine/prefix.sh created). Wine
# writes "\r\n" for "\n" on a Windows program's text-mode standard output, as Windows does, so
# the tests compare lines with the "\r" in place.

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
