#!/usr/bin/env bash
# Usage: tests/wine/usage.sh VORLANK_EXE PREFIX
#
# The Windows build under wine: every command line that matches neither `T` nor
# `L FileName NbSamples` prints exactly the five usage lines (with Windows line ends) and ends
# with exit code 1, before any device is opened.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
begin_test "VORLANK_EXE PREFIX" "$@"

printf 'Usage:\r\n Vorlank T\r\n  Tests if PCM signal is present\r\n Vorlank L FileName NbSamples\r\n   Logs raw data to logfile\r\n' \
  > "$work/expected"

# Each case: the words after the program name, separated by '|'; "-" stands for none.
cases=("-" "X" "t" "l|a|5" "L" "L|only-one" "TT" "LL|a|5")
for case in "${cases[@]}"; do
  words=()
  [ "$case" = "-" ] || IFS='|' read -r -a words <<<"$case"
  status=0
  "$WINE_LOADER" "$exe" "${words[@]}" >"$work/out" 2>"$work/err" </dev/null || status=$?
  [ "$status" -eq 1 ] || fail "words '$case': exit code $status, expected 1"
  cmp -s "$work/expected" "$work/out" || {
    echo "words '$case': standard output differs from the usage text:" >&2
    od -c "$work/out" | head -20 >&2
    fail "usage text for '$case'"
  }
done
echo "usage text and exit code 1 for ${#cases[@]} command lines"
