#!/usr/bin/env bash
# Usage: tests/package/check.sh [DIST]      (DIST: where scripts/package left them; dist/)
#
# Takes the two packages as a user gets them and proves that they work:
#
# The .deb: its control data lists the libraries the binaries need; it holds the three tools, their
# manual pages (each renders without a warning) and the README. It is installed with dpkg when
# this runs as root (as CI does) and removed again at the end; without root, or when a vorlank
# package is installed already and must not be touched, it is unpacked into a temporary root
# instead. Either way the tools are then run from PATH: both companions report the project's
# version, and the installed `vorlank T` decodes a synthesized signal played through a private
# PulseAudio cable (the end-to-end test of test mode, run on the installed programs).
#
# The zip: it holds the three .exe files and README.txt with CRLF line ends in one folder; the
# unpacked vorlank.exe decodes a signal under wine on the same kind of cable (the wine test of
# live test mode), and the two companions report the version under wine too.
set -euo pipefail
root_dir=$(cd "$(dirname "$0")/../.." && pwd)
dist=$(cd "${1:-$root_dir/dist}" && pwd)

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

version=$(sed -n 's/^project(Vorlank VERSION \([0-9.]*\) .*/\1/p' "$root_dir/CMakeLists.txt")
[ -n "$version" ] || fail "no project version in CMakeLists.txt"
deb=$dist/vorlank_${version}_$(dpkg --print-architecture).deb
zip=$dist/vorlank-${version}-windows-x86_64.zip
for f in "$deb" "$zip"; do [ -f "$f" ] || fail "$f not found; run scripts/package first"; done

work=$(mktemp -d "${TMPDIR:-/tmp}/vorlank-package.XXXXXX")
installed=0
prefix=""
cleanup() {
  if [ "$installed" = 1 ]; then dpkg --purge vorlank >/dev/null || echo "check: could not remove vorlank" >&2; fi
  [ -z "$prefix" ] || "$root_dir/tests/wine/prefix.sh" remove "$prefix" || true
  rm -rf "$work"
}
trap cleanup EXIT

echo "--- $(basename "$deb")"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libasound2 libc6 libstdc++6; do
  [[ $depends == *"$lib "* || $depends == *"$lib," || $depends == *"$lib" ]] || fail "Depends lacks $lib"
done
dpkg-deb -x "$deb" "$work/root"
pages=(vorlank.1.gz vorlank-analyze.1.gz vorlank-synth.1.gz)
for f in usr/bin/vorlank usr/bin/vorlank-analyze usr/bin/vorlank-synth usr/share/doc/vorlank/README.md \
  "${pages[@]/#/usr/share/man/man1/}"; do
  [ -f "$work/root/$f" ] || fail "the package holds no /$f"
done
for page in "${pages[@]}"; do
  warnings=$(MANWIDTH=80 man --warnings -l "$work/root/usr/share/man/man1/$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man $page: $warnings"
done

if [ "$(id -u)" -eq 0 ] && ! dpkg-query -W vorlank >/dev/null 2>&1; then
  installed=1
  dpkg -i "$deb" >/dev/null || fail "dpkg could not install $(basename "$deb")"
  bindir=/usr/bin
  echo "installed with dpkg"
else
  bindir=$work/root/usr/bin
  echo "unpacked into $work/root (not root, or a vorlank package is installed already)"
fi
# Ahead of /usr/local/bin, where a `cmake --install` may have put tools of its own.
export PATH="$bindir:$PATH"
for tool in vorlank vorlank-analyze vorlank-synth; do
  [ "$(command -v "$tool")" = "$bindir/$tool" ] || fail "$tool on PATH is $(command -v "$tool"), not $bindir/$tool"
done
for tool in vorlank-analyze vorlank-synth; do
  [ "$("$tool" --version)" = "$tool $version" ] || fail "$tool --version says '$("$tool" --version)'"
done
# Test mode needs no reader of run logs, the third tool the end-to-end tests are given.
"$root_dir/scripts/with-pulse" "$root_dir/tests/e2e/test_mode.sh" \
  "$(command -v vorlank)" "$(command -v vorlank-synth)" none

echo "--- $(basename "$zip")"
folder=vorlank-${version}-windows-x86_64
listing=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
expected="$folder/README.txt $folder/vorlank-analyze.exe $folder/vorlank-synth.exe $folder/vorlank.exe "
[ "$listing" = "$expected" ] || fail "the zip holds: $listing"
unzip -q "$zip" -d "$work/zip"
win=$work/zip/$folder
[ "$(grep -c '' "$win/README.txt")" -eq "$(grep -c $'\r$' "$win/README.txt")" ] ||
  fail "README.txt has lines without CRLF"

prefix=$work/wine-prefix
"$root_dir/tests/wine/prefix.sh" create "$prefix"
(
  export WINEPREFIX=$prefix
  . "$root_dir/tests/wine/lib.sh"
  for tool in vorlank-analyze vorlank-synth; do
    said=$("$WINE_LOADER" "$win/$tool.exe" --version </dev/null | tr -d '\r')
    [ "$said" = "$tool $version" ] || fail "$tool.exe --version says '$said'"
  done
)
"$root_dir/scripts/with-pulse" "$root_dir/tests/wine/live_test_mode.sh" \
  "$win/vorlank.exe" "$prefix" "$(command -v vorlank-synth)"
echo "packages of version $version: installed and run"
