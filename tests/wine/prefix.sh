#!/usr/bin/env bash
# Usage: tests/wine/prefix.sh create|remove PREFIX
#
# Creates a fresh wine prefix for the wine tests (the first start of wine in a new prefix takes
# several seconds, so it happens once, before the tests), or shuts its wineserver down and
# removes it afterwards.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 create|remove PREFIX" >&2; exit 2; }
action=$1
export WINEPREFIX=$2
. "$(dirname "$0")/lib.sh"

case "$action" in
  create)
    rm -rf "$WINEPREFIX"
    "$WINE_LOADER" wineboot --init >/dev/null 2>&1 || fail "wineboot could not create $WINEPREFIX"
    # wineboot returns before the prefix has settled; wait for its server to become idle.
    [ -z "$WINE_SERVER" ] || "$WINE_SERVER" --wait
    [ -f "$WINEPREFIX/system.reg" ] || fail "wineboot left no registry in $WINEPREFIX"
    ;;
  remove)
    [ -z "$WINE_SERVER" ] || "$WINE_SERVER" --kill 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    ;;
  *)
    echo "usage: $0 create|remove PREFIX" >&2
    exit 2
    ;;
esac
