#!/usr/bin/env bash
# Usage: tests/wine/audio_files.sh PROBE_EXE PREFIX SYNTH ANALYZE
#
# The Windows build's audio file libraries (libsndfile with its codecs, libsoxr) under wine, on
# the files users have: a clean synthesized signal, written by sox and ffmpeg in other rates,
# depths, channel counts, containers and codecs, is read by audio_file_probe.exe (PROBE_EXE),
# which takes the first channel, resamples it to 44 100 Hz and writes it as 16-bit WAV. The Linux
# analyzer (ANALYZE) then counts its frames: a lossless copy must give the 16-bit original's
# frames, errors and Pos1 exactly; a lossy one (Ogg Vorbis, Opus, MP3) its Pos1 and all its
# frames but at most 3, none of them in error. SYNTH (the Linux vorlank-synth) writes the signal.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
begin_test "PROBE_EXE PREFIX SYNTH ANALYZE" "$@"
synth=$(realpath -m "$3")
analyze=$(realpath -m "$4")
for tool in sox ffmpeg; do
  command -v "$tool" >/dev/null || fail "$tool not found; run scripts/install-deps"
done
cd "$work"
synthesize --duration 3 --sweep
mv "$work/signal.wav" original.wav

# FILE RATE CHANNELS KIND WRITER...: WRITER makes FILE from original.wav; the probe must report
# RATE and CHANNELS for it; KIND is exact or lossy.
variants=()
declare -A expected
variant() {
  local file=$1
  expected[$file]="$2 $3 $4"
  variants+=("$file")
  shift 4
  "$@" >>writers.log 2>&1 || { cat writers.log >&2; fail "could not write $file: $*"; }
}
quiet_ffmpeg=(ffmpeg -nostdin -loglevel error -i original.wav)
variant 48k.wav 48000 1 exact sox original.wav -r 48000 48k.wav
variant 96k-s24.wav 96000 1 exact sox original.wav -b 24 -r 96000 96k-s24.wav
variant 32k.wav 32000 1 exact sox original.wav -r 32000 32k.wav
variant float.wav 44100 1 exact sox original.wav -e floating-point -b 32 float.wav
# The signal in the first channel only: a reader taking another channel finds nothing.
variant stereo.wav 44100 2 exact sox original.wav stereo.wav remix 1 0
variant rf64.wav 44100 1 exact "${quiet_ffmpeg[@]}" -rf64 always rf64.wav
variant signal.w64 44100 1 exact sox original.wav signal.w64
variant signal.aiff 44100 1 exact sox original.wav signal.aiff
variant signal.caf 44100 1 exact "${quiet_ffmpeg[@]}" signal.caf
variant signal.flac 44100 1 exact sox original.wav signal.flac
variant signal.ogg 44100 1 lossy sox original.wav -C 8 signal.ogg
variant signal.opus 48000 1 lossy "${quiet_ffmpeg[@]}" -c:a libopus -b:a 128k signal.opus
variant signal.mp3 44100 1 lossy "${quiet_ffmpeg[@]}" -c:a libmp3lame -b:a 192k signal.mp3

args=()
for file in "${variants[@]}"; do args+=("$file" "$file.out.wav"); done
"$WINE_LOADER" "$exe" "${args[@]}" >probe.txt 2>probe.err </dev/null ||
  fail "audio_file_probe.exe: exit code $?: $(tr -d '\r' <probe.err)"
mapfile -t reports < <(tr -d '\r' <probe.txt)
[ "${#reports[@]}" -eq "${#variants[@]}" ] || fail "the probe reported ${#reports[@]} files of ${#variants[@]}"

# Sets got_frames, got_errors and got_pos1 from the analyzer's report on FILE.
counts() {
  "$analyze" "$1" >"$1.report" 2>&1 || fail "vorlank-analyze $1: $(cat "$1.report")"
  read -r got_frames got_errors got_pos1 <<<"$(sed -nE \
    's/^Frames +([0-9]+) .*/\1/p; s/^Errors +([0-9]+) .*/\1/p; s/^Pos1 +([0-9]+) .*/\1/p' \
    "$1.report" | tr '\n' ' ')"
}
counts original.wav
frames=$got_frames errors=$got_errors pos1=$got_pos1
[ "${frames:-0}" -gt 0 ] || fail "no frames in the original: $(cat original.wav.report)"
echo "original: $frames frames, $errors errors, Pos1 $pos1"

for i in "${!variants[@]}"; do
  file=${variants[$i]}
  read -r rate channels kind <<<"${expected[$file]}"
  [[ ${reports[$i]} == *" channels=$channels rate=$rate "* ]] ||
    fail "$file: the probe read '${reports[$i]}', expected $channels channels at $rate Hz"
  counts "$file.out.wav"
  echo "$file ($kind): $got_frames frames, $got_errors errors, Pos1 $got_pos1 (${reports[$i]})"
  if [ "$kind" = exact ]; then
    [ "$got_frames $got_errors $got_pos1" = "$frames $errors $pos1" ] ||
      fail "$file: $got_frames frames, $got_errors errors, Pos1 $got_pos1; the original has $frames, $errors, $pos1"
  else
    { [ "$got_frames" -ge $((frames - 3)) ] && [ "$got_frames" -le "$frames" ] &&
      [ "$got_errors" -eq 0 ] && [ "$got_pos1" -eq "$pos1" ]; } ||
      fail "$file: $got_frames frames, $got_errors errors, Pos1 $got_pos1; expected $((frames - 3))..$frames, 0, $pos1"
  fi
done
echo "every file was read under wine and gave the original's frames"
