// Input of vorlank-analyze: a run log written by `vorlank L`, a WAV recording, or raw samples; from
// a file, a FIFO or standard input. A run log and a WAV recording are told apart by their content
// (a WAV recording opens with a RIFF header), never by the name; raw samples have no header and
// are read only when asked for. Everything is read front to back in bounded chunks, never seeking,
// so a pipe works like a file and an input of any length is studied in the same small memory.
//
// Run log: headerless 32-bit signed little-endian run lengths, in samples at 44 100 Hz; entry 0 is
// a Low run and the levels alternate, so even entries are Low and odd entries High. A log whose
// recording was stopped before it was full ends in zero entries. A run is at least one sample long,
// so those zeros are no runs: they are counted as the log's tail and left out. A size that is not a
// multiple of 4, a negative entry, or a zero followed by a run means the input is no intact log.
//
// WAV recording: RIFF/WAVE with 16-bit PCM, one channel, 44 100 Hz: the format vorlank itself
// captures, so the slicer sees exactly the samples it would have seen live. Any other format is
// refused with a message naming what the input holds. A recorder that writes to a pipe cannot go
// back to fill in the data chunk's length when it stops, so it leaves 0, 0xFFFFFFFF or a length
// larger than what it will send: a length of 0 or 0xFFFFFFFF means "up to the end", and in a
// stream any length is read only as far as the stream goes. A regular file, whose size is known,
// must hold the length its data chunk declares.
//
// Raw samples: signed 16-bit little-endian mono samples at 44 100 Hz with nothing around them, as
// `arecord -t raw -f S16_LE -c 1 -r 44100` and `parec --format=s16le --channels=1 --rate=44100`
// write them. An odd last byte is no sample and is left out.
//
// Empty input: a regular file of no bytes is a log of no runs (`vorlank L f 0` writes one). A
// stream (pipe, FIFO, device) that ends before its first byte is refused: its writer never wrote,
// as a recorder that failed to start, and reporting that as a run would hide the failure.
//
// Threads: a reader belongs to one caller; no shared state.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "common/signal_format.h"

enum class InputKind {
    RunLog,
    Wav,
    Raw,
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

// The one sample format that can be analysed: 16-bit PCM, mono, 44 100 Hz.
inline constexpr WavFormat kAnalysedFormat{1, 1, kSampleRateHz, 2, 16};

// Bytes that opening reads, to classify the input and to tell an empty one, before anything is
// handed out.
inline constexpr size_t kInputHeadBytes = 12;

struct InputReader {
    std::FILE* file = nullptr;
    bool ownsFile = false;  // false for standard input, which is never closed
    InputKind kind = InputKind::RunLog;
    bool sizeKnown = false;   // a regular file: its size was known up front
    uint64_t fileBytes = 0;   // sizeKnown: the size of the whole file
    bool toTheEnd = false;    // samples or entries run up to the end of the input
    uint64_t bytesLeft = 0;   // !toTheEnd: sample bytes of the data chunk not yet read
    uint64_t bytesTaken = 0;  // bytes read from the input so far
    std::array<uint8_t, kInputHeadBytes> head{};  // bytes read while classifying, not yet used
    size_t headFrom = 0;                          // head[headFrom .. headTo) still to hand out
    size_t headTo = 0;
    int64_t entriesRead = 0;  // log: entries taken from the input so far, zeros included
    int64_t pendingZeros =
        0;               // log: zeros since the last run; the tail, unless a run still follows
    WavFormat format;    // WAV and raw: the samples' format
    std::string error;   // why the last call failed; one line, without the input's name
    bool empty = false;  // OpenInput failed on a stream that ended before its first byte
};

// Opens `path` ("-": standard input) and reads its first bytes. With `raw` the input is taken as
// raw samples; otherwise a WAV recording is told from a run log and, for WAV, the header is read up
// to the first sample. Returns false with `reader.error` set when the input cannot be read, is a
// stream that ends before its first byte (`reader.empty` set as well), or is neither an intact log
// nor a WAV recording in the one supported format; the input is closed again then.
bool OpenInput(InputReader& reader, const char* path, bool raw);

// The same for an input that is already open; `knownSize` is its size in bytes, or -1 for a stream
// whose size is not known. The reader does not close `file`.
bool OpenInputStream(InputReader& reader, std::FILE* file, int64_t knownSize, bool raw);

// Run log: reads up to `capacity` runs (lengths in samples, each at least 1) into `runs`. Returns
// how many, 0 once the log is exhausted (its zero tail then stands in `pendingZeros`), or -1 with
// `reader.error` set for a negative entry, a zero inside the log, a size that is not a multiple of
// 4 or a read failure.
int64_t ReadLogRuns(InputReader& reader, int32_t* runs, size_t capacity);

// WAV and raw: reads up to `capacity` bytes of samples (16-bit little-endian, as in the input) into
// `bytes`; `capacity` must be even. Returns the byte count (always even), 0 at the end of the
// samples, or -1 with `reader.error` set when a file ends early or cannot be read.
int64_t ReadSampleBytes(InputReader& reader, uint8_t* bytes, size_t capacity);

void CloseInput(InputReader& reader);

// "16-bit PCM, mono, 44100 Hz", "8-bit PCM, stereo, 48000 Hz", "32-bit IEEE float, 6 channels, ..."
std::string DescribeWavFormat(const WavFormat& format);
