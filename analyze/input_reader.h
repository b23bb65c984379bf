// Input of vorlank-analyze: a run log written by `vorlank L`, or a WAV recording. The two are told
// apart by their content (a WAV file opens with a RIFF header), never by the file name, and both
// are read in bounded chunks, so a file of any size is studied in the same small amount of memory.
//
// Run log: headerless 32-bit signed little-endian run lengths, in samples at 44 100 Hz; entry 0 is
// a Low run and the levels alternate, so even entries are Low and odd entries High. A log whose
// recording was stopped before it was full ends in zero entries. A run is at least one sample long,
// so those zeros are no runs: they are counted as the log's tail and left out. A size that is not a
// multiple of 4, a negative entry, or a zero followed by a run means the file is no intact log.
//
// WAV recording: RIFF/WAVE with 16-bit PCM, one channel, 44 100 Hz: the format vorlank itself
// captures, so the slicer sees exactly the samples it would have seen live. Any other format is
// refused with a message naming what the file holds.
//
// Threads: a reader belongs to one caller; no shared state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "common/signal_format.h"

enum class InputKind {
    RunLog,
    Wav,
};

// The fields of a WAV file's fmt chunk that decide whether it can be read.
struct WavFormat {
    uint16_t formatTag =
        0;  // 1 = integer PCM (also for WAVE_FORMAT_EXTENSIBLE with a PCM sub-format)
    uint16_t channels = 0;
    uint32_t sampleRate = 0;  // samples per second per channel
    uint16_t blockAlign = 0;  // bytes per sample frame (all channels)
    uint16_t bitsPerSample = 0;
};

struct InputReader {
    std::FILE* file = nullptr;
    InputKind kind = InputKind::RunLog;
    uint64_t fileBytes = 0;  // size of the whole file
    uint64_t bytesLeft =
        0;  // log: bytes not yet read; WAV: sample bytes of the data chunk not yet read
    int64_t entriesRead = 0;  // log: entries taken from the file so far, zeros included
    int64_t pendingZeros =
        0;              // log: zeros since the last run; the tail, unless a run still follows
    WavFormat format;   // WAV: the recording's format
    std::string error;  // why the last call failed; one line, without the file name
};

// Opens `path`, tells a WAV recording from a run log and, for WAV, reads the header up to the
// first sample. Returns false with `reader.error` set when the file cannot be read or is neither an
// intact log nor a WAV recording in the one supported format; the file is closed again then.
bool OpenInput(InputReader& reader, const char* path);

// Run log: reads up to `capacity` runs (lengths in samples, each at least 1) into `runs`. Returns
// how many, 0 once the log is exhausted (its zero tail then stands in `pendingZeros`), or -1 with
// `reader.error` set for a negative entry, a zero inside the log or a read failure.
int64_t ReadLogRuns(InputReader& reader, int32_t* runs, size_t capacity);

// WAV: reads up to `capacity` bytes of samples (16-bit little-endian, as in the file) into `bytes`;
// `capacity` must be even. Returns the byte count (always even), 0 at the end of the data chunk,
// or -1 with `reader.error` set when the file ends early or cannot be read.
int64_t ReadWavBytes(InputReader& reader, uint8_t* bytes, size_t capacity);

void CloseInput(InputReader& reader);

// "16-bit PCM, mono, 44100 Hz", "8-bit PCM, stereo, 48000 Hz", "32-bit IEEE float, 6 channels, ..."
std::string DescribeWavFormat(const WavFormat& format);
