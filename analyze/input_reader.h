// Input of vorlank-analyze: a run log of `vorlank L`, a recording or raw samples, from a file, a
// FIFO or standard input, told apart by content (raw only when asked for) and read front to back
// in bounded chunks. Threads: a reader belongs to one caller and stays where it is while open
// (libsndfile holds the address of its bytes).
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
    // Log: entries taken from the input so far, zeros included
    int64_t entriesRead = 0;
    // Log: zeros since the last run; the tail, unless a run still follows
    int64_t pendingZeros = 0;
    // Recording and raw
    RecordingReader recording;
    // Why the last call failed; one line, without the input's name
    std::string error;
    InputFailure failure = InputFailure::None;
    // Recording and raw, once read to the end: one line when it was cut short
    std::string note;
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
