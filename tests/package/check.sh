#!/usr/bin/env bash
# Usage: tests/package/check.sh [DIST]      (DIST: where scripts/package left them; dist/)
#
# Takes the packages as a user gets them and proves that they work:
#
# The .deb: lintian, Debian's own checker, finds no error and no warning in it; its Depends names
# the package of every library its programs load; it holds the three tools, their manual pages
# (each renders without a warning), the README, the copyright file and the changelog. It is
# installed with dpkg when this runs as root (as CI does) and removed again at the end; without
# root, or when a vorlank package is installed already and must not be touched, it is unpacked
# into a temporary root instead. Either way the tools are then run from PATH: both companions
# report the project's version, and the installed `vorlank T` decodes a synthesized signal played
# through a private PulseAudio cable (the end-to-end test of test mode, run on the installed
# programs).
#
# The zip: it holds the three .exe files, README.txt, LICENSE.txt and NOTICE.txt in one folder,
# and the licence texts of every library that NOTICE.txt names in licenses/, all text with CRLF
# line ends; the source archive beside it holds the Debian source package of each of those
# libraries, at the version named, and this tree. The unpacked vorlank.exe decodes a signal under
# wine on the same kind of cable (the wine test of live test mode), and the two companions report
# the version under wine too.
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
sources=$dist/vorlank-${version}-windows-x86_64-sources.tar
for f in "$deb" "$zip" "$sources"; do [ -f "$f" ] || fail "$f not found; run scripts/package first"; done

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
lintian --fail-on error,warning "$deb" || fail "lintian finds fault with $(basename "$deb")"
echo "lintian: no error, no warning"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
dpkg-deb -x "$deb" "$work/root"
pages=(vorlank.1.gz vorlank-analyze.1.gz vorlank-synth.1.gz)
docs=(README.md copyright changelog.gz)
for f in usr/bin/vorlank usr/bin/vorlank-analyze usr/bin/vorlank-synth \
  "${docs[@]/#/usr/share/doc/vorlank/}" "${pages[@]/#/usr/share/man/man1/}"; do
  [ -f "$work/root/$f" ] || fail "the package holds no /$f"
done
# The package of each library a program loads, as dpkg knows it here, must be a dependency.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
for tool in vorlank vorlank-analyze vorlank-synth; do
  while read -r soname; do
    owner=$(dpkg-query -S "*/$multiarch/$soname" 2>/dev/null | head -n 1 | cut -d: -f1)
    [ -n "$owner" ] || fail "$tool loads $soname, which no installed package holds"
    [[ ", $depends," =~ ,\ "$owner"[\ ,] ]] || fail "$tool loads $soname of $owner, which Depends lacks"
  done < <(objdump -p "$work/root/usr/bin/$tool" | sed -n 's/^ *NEEDED *//p')
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
listing=$(unzip -Z1 "$zip" | grep -v "^$folder/licenses/" | sort | tr '\n' ' ')
expected="$folder/LICENSE.txt $folder/NOTICE.txt $folder/README.txt $folder/vorlank-analyze.exe "
expected+="$folder/vorlank-synth.exe $folder/vorlank.exe "
[ "$listing" = "$expected" ] || fail "the zip holds: $listing"
unzip -q "$zip" -d "$work/zip"
win=$work/zip/$folder
while read -r -d '' text; do
  [ "$(grep -c '' "$text")" -eq "$(grep -c $'\r$' "$text")" ] || fail "${text#"$win/"} has lines without CRLF"
done < <(find "$win" -name '*.txt' -print0)
tr -d '\r' <"$win/LICENSE.txt" | cmp -s - "$root_dir/LICENSE" || fail "LICENSE.txt is not the tree's LICENSE"
# NOTICE.txt names each library linked in as "  NAME VERSION (LICENCE)".
mapfile -t libraries < <(tr -d '\r' <"$win/NOTICE.txt" | sed -nE 's/^  ([a-z0-9]+) ([^ ]+) \([^)]+\)$/\1_\2/p')
[ "${#libraries[@]}" -gt 0 ] || fail "NOTICE.txt names no library"
source_listing=$(tar -tf "$sources")
for library in "${libraries[@]}" mingw-w64 gcc; do
  name=${library%%_*}
  [ -f "$win/licenses/$name/copyright.txt" ] || fail "the zip holds no licenses/$name/copyright.txt"
  [ "$name" = "$library" ] || grep -qx "debian/$library.dsc" <<<"$source_listing" ||
    fail "$(basename "$sources") holds no debian/$library.dsc"
done
grep -qx "vorlank-$version/scripts/build-mingw-audio-libs" <<<"$source_listing" ||
  fail "$(basename "$sources") holds no vorlank-$version/ tree"
echo "zip: the programs, the licence texts of ${libraries[*]%%_*} and the runtimes; their sources beside"

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
