#!/usr/bin/env bash
# Usage: tests/wine/analyze_recordings.sh ANALYZE_EXE PREFIX SYNTH
#
# The Windows build of vorlank-analyze, with the audio file libraries linked into it (libsndfile
# with its codecs, libsoxr), on the recordings users have: a clean synthesized signal, written by
# sox and ffmpeg at 48 kHz, in 24 bits, as float, as stereo, and as FLAC, Ogg Vorbis, Opus and MP3.
# Each copy must give the frames that vorlank-synth (SYNTH, the Linux build) wrote: a lossless
# one all of them, with no error and the last Pos1 of the original; a lossy one (Ogg Vorbis, Opus,
# MP3) all but at most 3, none of them in error, and the same Pos1. The Input line must name the
# rate read, and say that it was resampled where it was not 44 100 Hz.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
begin_test "ANALYZE_EXE PREFIX SYNTH" "$@"
synth=$(realpath -m "$3")
for tool in sox ffmpeg; do
  command -v "$tool" >/dev/null || fail "$tool not found; run scripts/install-deps"
done
cd "$work"
synthesize --duration 3 --sweep
frames=$(sed -nE 's/.*frames=([0-9]+) .*/\1/p' synth.txt)
pos1=$(sed -nE 's/.* pos1Last=([0-9]+) .*/\1/p' synth.txt)
[ -n "$frames" ] && [ -n "$pos1" ] || fail "no frames= or pos1Last= in the synthesizer's summary: $(cat synth.txt)"

# Sets got_frames, got_errors and got_pos1 from the report of vorlank-analyze.exe on FILE, whose
# Input line must name RATE.
analyze() {
  local file=$1 rate=$2 input
  "$WINE_LOADER" "$exe" "$file" </dev/null >"$file.out" 2>&1 ||
    fail "vorlank-analyze.exe $file: exit code $?: $(tr -d '\r' <"$file.out")"
  tr -d '\r' <"$file.out" >"$file.report"
  input=$(sed -n 's/^Input *//p' "$file.report")
  local wanted="$rate Hz"
  [ "$rate" = 44100 ] || wanted+=", resampled to 44100 Hz"
  [[ $input == *"$wanted"* ]] || fail "$file: Input '$input' does not say '$wanted'"
  read -r got_frames got_errors got_pos1 <<<"$(sed -nE \
    's/^Frames +([0-9]+) .*/\1/p; s/^Errors +([0-9]+) .*/\1/p; s/^Pos1 +([0-9]+) .*/\1/p' \
    "$file.report" | tr '\n' ' ')"
  echo "$file: $got_frames frames, $got_errors errors, Pos1 $got_pos1 ($input)"
}

# FILE RATE KIND [WRITER...]: WRITER makes FILE at RATE from signal.wav (none: FILE is there);
# KIND is exact or lossy.
check() {
  local file=$1 rate=$2 kind=$3
  shift 3
  [ $# -eq 0 ] || "$@" >writer.log 2>&1 || fail "could not write $file: $*: $(cat writer.log)"
  analyze "$file" "$rate"
  if [ "$kind" = exact ]; then
    [ "$got_frames $got_errors $got_pos1" = "$frames 0 $pos1" ] ||
      fail "$file: $got_frames frames, $got_errors errors, Pos1 $got_pos1; expected $frames, 0, $pos1"
  else
    { [ "$got_frames" -ge $((frames - 3)) ] && [ "$got_frames" -le "$frames" ] &&
      [ "$got_errors" -eq 0 ] && [ "$got_pos1" -eq "$pos1" ]; } ||
      fail "$file: $got_frames frames, $got_errors errors, Pos1 $got_pos1; expected $((frames - 3))..$frames, 0, $pos1"
  fi
}

# The WAV family's variations, and each codec library once (RF64, W64, AIFF, CAF and other rates
# take no other code of the Windows build than these; the Linux tests cover them).
ffmpeg=(ffmpeg -nostdin -loglevel error -i signal.wav)
check signal.wav 44100 exact
check 48k.wav 48000 exact sox signal.wav -r 48000 48k.wav
check s24.wav 44100 exact sox signal.wav -b 24 s24.wav
check float.wav 44100 exact sox signal.wav -e floating-point -b 32 float.wav
# The signal in the first channel only: a reader taking another channel finds nothing.
check stereo.wav 44100 exact sox signal.wav stereo.wav remix 1 0
check signal.flac 44100 exact sox signal.wav signal.flac
check signal.ogg 44100 lossy sox signal.wav -C 8 signal.ogg
check signal.opus 48000 lossy "${ffmpeg[@]}" -c:a libopus -b:a 128k signal.opus
check signal.mp3 44100 lossy "${ffmpeg[@]}" -c:a libmp3lame -b:a 192k signal.mp3
echo "every recording was read under wine and gave the synthesized frames"
