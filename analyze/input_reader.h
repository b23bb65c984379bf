// Input of vorlank-analyze: a run log written by `vorlank L`, a recording, or raw samples; from a
// file, a FIFO or standard input. A run log and a recording are told apart by their content, never
// by the name; raw samples have no header and are read only when asked for. Everything is read
// front to back in bounded chunks (byte_source.h), so a pipe works like a file and an input of any
// length is studied in the same small memory.
//
// Telling them apart, from the first 12 bytes (three run-log entries):
//   - a container that no library here reads (MP4/M4A, AMR, WMA, Matroska/WebM, ...) is refused
//     with what it is and the ffmpeg line that converts it;
//   - a recording's signature (RIFF/WAVE, RF64, W64, AIFF, CAF, FLAC, Ogg, an ID3 tag, ...), any
//     other four printable characters, or a start that no run log has (a negative entry, a zero
//     before a run) is offered to libsndfile (recording.h), which reads it or says it knows no such
//     format. A signature it cannot read is refused with the ffmpeg line; printable characters it
//     does not know are read as a run log after all (a text file, which the report then warns
//     of); a start no run log has is refused, saying that raw samples need --raw;
//   - the rest is a run log. A binary run log is never offered to libsndfile, whose weaker
//     signatures (MPEG frame sync, IRCAM, ...) a log's first run could match by chance.
//
// Run log: headerless 32-bit signed little-endian run lengths, in samples at 44 100 Hz; entry 0 is
// a Low run and the levels alternate, so even entries are Low and odd entries High. A log whose
// recording was stopped before it was full ends in zero entries. A run is at least one sample long,
// so those zeros are no runs: they are counted as the log's tail and left out. A size that is not a
// multiple of 4, a negative entry, or a zero followed by a run means the input is no intact log.
//
// Recording: any format libsndfile reads, brought to one channel of 16-bit samples at 44 100 Hz
// (recording.h). A recording cut short (a writer that crashed or filled the disk, a file whose
// header promises more than it holds, a compressed stream that ends inside a frame) is read as far
// as it goes, and `note` says so. A stream ends where its writer stopped, whatever its header
// promised: a recorder writing into a pipe cannot go back to fill in the length.
//
// Raw samples: as the request describes them (default: signed 16-bit little-endian mono at
// 44 100 Hz, what `arecord -t raw -f S16_LE -c 1 -r 44100` and `parec --format=s16le
// --channels=1 --rate=44100` write). A partial last sample frame is left out.
//
// Empty input: a regular file of no bytes is a log of no runs (`vorlank L f 0` writes one). A
// stream (pipe, FIFO, device) that ends before its first byte is refused: its writer never wrote,
// as a recorder that failed to start, and reporting that as a run would hide the failure.
//
// Threads: a reader belongs to one caller. It stays where it is while open: libsndfile holds the
// address of its bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "analyze/byte_source.h"
#include "analyze/recording.h"

namespace analyze {

enum class InputKind {
    RunLog,
    Recording,
    Raw,
};

// How the command line asks for the input to be read.
struct InputRequest {
    bool raw = false;     // the input is raw samples in `layout`
    RawLayout layout;     // raw only
    int32_t channel = 0;  // 1-based channel of a recording or raw stream; 0: none asked for
};

enum class InputFailure {
    None,
    Empty,          // a stream that ended before its first byte
    BadInput,       // unreadable, corrupt, or in a format that cannot be read
    NoSuchChannel,  // the channel asked for is not in the input
};

// Bytes that opening reads, to classify the input and to tell an empty one.
inline constexpr size_t kInputHeadBytes = 12;

struct InputReader {
    ByteSource source;
    bool ownsFile = false;  // false for standard input, which is never closed
    InputKind kind = InputKind::RunLog;
    int64_t entriesRead = 0;  // log: entries taken from the input so far, zeros included
    int64_t pendingZeros =
        0;  // log: zeros since the last run; the tail, unless a run still follows
    RecordingReader recording;  // recording and raw
    std::string error;          // why the last call failed; one line, without the input's name
    InputFailure failure = InputFailure::None;
    std::string note;  // recording and raw, once read to the end: one line when it was cut short
};

// Opens `path` ("-": standard input) and classifies it, as `request` asks. Returns false with
// `reader.error` and `reader.failure` set when the input cannot be read as asked; the input is
// closed again then.
bool OpenInput(InputReader& reader, const char* path, const InputRequest& request);

// The same for an input that is already open; `knownSize` is its size in bytes, or -1 for a stream
// whose size is not known. `name` is the input as the user named it ("-" for standard input), for
// the command lines that messages suggest. The reader does not close `file`.
bool OpenInputStream(InputReader& reader, std::FILE* file, int64_t knownSize,
                     const InputRequest& request, const char* name);

// Run log: reads up to `capacity` runs (lengths in samples, each at least 1) into `runs`. Returns
// how many, 0 once the log is exhausted (its zero tail then stands in `pendingZeros`), or -1 with
// `reader.error` set for a negative entry, a zero inside the log, a size that is not a multiple of
// 4 or a read failure.
int64_t ReadLogRuns(InputReader& reader, int32_t* runs, size_t capacity);

// Recording and raw: reads up to `capacity` bytes of samples (16-bit little-endian, one channel,
// 44 100 Hz) into `bytes`. Returns the byte count (always even), 0 at the end of the samples (with
// `note` set when the input was cut short), or -1 with `reader.error` set when the input cannot be
// read.
int64_t ReadSampleBytes(InputReader& reader, uint8_t* bytes, size_t capacity);

void CloseInput(InputReader& reader);

}  // namespace analyze
